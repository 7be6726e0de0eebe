#pragma once
// What the About and quick help dialogs add to the template builder: controls of kinds
// it does not make (flat buttons, links, a multi-line field) put in the place of the
// ones it made, and the modal frame's window type.

#include <map>

class CFlatButton;
class QDialog;
class QWidget;

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

// Before a modal run of a dialog constructed without a parent: the window last active
// becomes its owner, so it opens centred over that window and blocks it.
void AdoptActiveWindowAsOwner(QDialog& dialog);
