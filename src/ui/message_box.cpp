#include "message_box.h"

#include <QCoreApplication>

namespace {

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    return box.exec();
}

MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler = ShowMessageBox;
    return handler;
}

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    MessageBoxHandler old = std::move(Handler());
    Handler() = handler ? std::move(handler) : MessageBoxHandler(ShowMessageBox);
    return old;
}

int AfxMessageBox(const QString& text, QMessageBox::Icon icon, QWidget* owner)
{
    return Handler()(owner, text, QCoreApplication::applicationName(), icon);
}
