#pragma once
// What the About and quick help dialogs add to the template builder: controls of kinds
// it does not make (flat buttons, links, a multi-line field) put in the place of the
// ones it made, and the modal frame's window type.

#include "dialog_template.h"

#include <QSize>

#include <map>
#include <utility>
#include <vector>

class CFlatButton;
class QDialog;
class QWidget;

// Notes on each control the rectangle its template gives it, in dialog units. Call it
// right after the builder made the controls (it made them in template order).
void NoteTemplateRects(QDialog& dialog, const res::DialogTemplate& tmpl);

// The pixels a text control needs to show its text whole on one line: labels, flat
// buttons (with room for their edges) and owner-drawn buttons.
QSize TextNeeds(const QWidget* control);

// Lays the dialog and its noted controls out again with base units large enough that
// each control listed gets at least the pixels listed with it. The templates were drawn
// for a font whose words ran narrower against its letters' average than the desktop's
// fonts do; growing the units keeps every text whole and the layout's proportions.
void LayOutToFit(QDialog& dialog, const res::DialogTemplate& tmpl,
    const std::vector<std::pair<const QWidget*, QSize>>& needs);

// Puts `replacement` where the template put the control `old`: its rectangle, object
// name, control id, focus policy, visibility, enabled state and place in the tab order.
// `old` is deleted; the map entry of that id, if it was `old`, names the replacement.
QWidget* ReplaceControl(std::map<int, QWidget*>& controls, QWidget* old, QWidget* replacement);

// The template's button `id` as a flat button: the builder's own when it made one, else
// a flat button with the same text put in the place of the button it made.
CFlatButton* BindFlatButton(std::map<int, QWidget*>& controls, int id);

// A template with a modal frame: a dialog window of its owner rather than a window of
// its own in the task bar.
void UseModalFrame(QDialog& dialog);

// Before a modal run of a dialog constructed without a parent: the window the user works
// in (the modal dialog running, else the active window) becomes its owner, so it opens
// centred over that window and blocks it.
void AdoptActiveWindowAsOwner(QDialog& dialog);
