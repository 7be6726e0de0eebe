#pragma once
// Room for every text of a dialog built from a template, without growing it for a pixel.

#include "dialog_template.h"

class QDialog;

// Each visible label, check box and command button gets the room its text needs on one
// line. A label or check box first takes the gap up to the control after it on its row
// (the template leaves a few units there); whatever still does not fit lays the whole dialog out again
// with larger base units (LayOutToFit), so the window grows in proportion.
void FitTextsToControls(QDialog& dialog, const res::DialogTemplate& tmpl);
