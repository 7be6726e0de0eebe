#pragma once
// Turns a dialog template (src/res) into widgets: every control at its rectangle, mapped
// from dialog units to pixels by the dialog font, so the window has the proportions it
// was designed with whatever font the desktop gives it.

#include "dialog_template.h"

#include <QFont>
#include <QRect>

#include <functional>
#include <map>

class QDialog;
class QWidget;

// The dynamic property each control made from a template keeps its control id in: the
// flat buttons read their command from it, and dialogs and tests find controls by it.
inline constexpr char kControlIdProperty[] = "dialogControlId";
// The control's rectangle in the template, in dialog units (a QRect), for laying the
// dialog out again with other base units.
inline constexpr char kTemplateRectProperty[] = "dialogTemplateRect";

// Horizontal and vertical base units of a font, in pixels: the average width of the
// letters A-Z and a-z (rounded to the nearest pixel), and the font's line height.
struct DialogBaseUnits {
    int cx;
    int cy;
};

// The template's font when the system has it, otherwise the desktop's default font at
// its normal size.
QFont DialogFont(const res::DialogTemplate& tmpl);
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Pixels of a rectangle in dialog units: x and width by cx/4, y and height by cy/8, each
// edge mapped on its own and rounded, so neighbouring controls keep sharing edges.
QRect MapDialogRect(const res::DluRect& rect, DialogBaseUnits units);

// Makes the widget for one control when its dialog wants a class the template's class
// name does not give (a link the dialog draws, a multi-line field); null leaves the
// control to the builder. The builder then treats it like its own: rectangle, object
// name, id, focus, enabled state, visibility and place in the tab order.
using ControlFactory = std::function<QWidget*(const res::DialogControl& control, QWidget* parent)>;

// Gives `dialog` the template's caption, font, window decorations and client size, and
// creates its controls, each once and of its final class, in template order (the tab
// order). Returns them by control id.
std::map<int, QWidget*> CreateDialogControls(
    QDialog& dialog, const res::DialogTemplate& tmpl, const ControlFactory& factory = {});
