#pragma once
// What the About and quick help dialogs add to the template builder: finding a control
// as its class, laying the dialog out again so every text shows whole, and the modal
// frame's window type.

#include "dialog_template.h"

#include <QSize>
#include <QWidget>

#include <map>
#include <utility>
#include <vector>

class QDialog;

// The template's control `id` as the class its dialog made it (the builder, or the
// dialog's own factory); a template without it, or of another class, is a programming error.
template <typename T> T* ControlAs(const std::map<int, QWidget*>& controls, int id)
{
    const auto it = controls.find(id);
    T* w = it == controls.end() ? nullptr : qobject_cast<T*>(it->second);
    Q_ASSERT_X(w, "ControlAs", "the template lacks the control, or it is of another class");
    return w;
}

// The pixels a text control needs to show its text whole on one line: labels, flat
// buttons (with room for their edges) and owner-drawn buttons.
QSize TextNeeds(const QWidget* control);

// Lays the dialog and the controls made from its template out again with base units
// large enough that each control listed gets at least the pixels listed with it. The
// templates were drawn for a font whose words ran narrower against its letters' average
// than the desktop's fonts do; growing the units keeps every text whole and the
// layout's proportions.
void LayOutToFit(
    QDialog& dialog, const res::DialogTemplate& tmpl, const std::vector<std::pair<const QWidget*, QSize>>& needs);

// A template with a modal frame: a dialog window of its owner rather than a window of
// its own in the task bar.
void UseModalFrame(QDialog& dialog);

// Before a modal run of a dialog constructed without a parent: the window the user works
// in (the modal dialog running, else the active window) becomes its owner, so it opens
// centred over that window and blocks it.
void AdoptActiveWindowAsOwner(QDialog& dialog);
