#pragma once
#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so that tests can record them
// instead of blocking on a modal window. The handler gets the owner (may be null), the
// text, the caption and the icon, and returns the button pressed.
using MessageBoxHandler
    = std::function<int(QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon)>;

// Installs a handler (an empty one restores the real message box); returns the old one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// A modal message box with an OK button, captioned with the application's name as it
// is at the moment of the call.
int AfxMessageBox(const QString& text, QMessageBox::Icon icon = QMessageBox::Warning, QWidget* owner = nullptr);
