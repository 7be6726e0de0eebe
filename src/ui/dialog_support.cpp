#include "dialog_support.h"
#include "flat_button.h"

#include <QApplication>
#include <QDialog>
#include <QVariant>

QWidget* ReplaceControl(std::map<int, QWidget*>& controls, QWidget* old, QWidget* replacement)
{
    replacement->setParent(old->parentWidget());
    replacement->setGeometry(old->geometry());
    replacement->setObjectName(old->objectName());
    replacement->setProperty("dialogControlId", old->property("dialogControlId"));
    replacement->setFocusPolicy(old->focusPolicy());
    replacement->setEnabled(old->isEnabled());
    replacement->setVisible(!old->isHidden());
    // Right after the old control in the focus chain, which then leaves it.
    if (old->focusPolicy() != Qt::NoFocus)
        QWidget::setTabOrder(old, replacement);
    for (auto& [id, w] : controls) {
        if (w == old)
            w = replacement;
    }
    delete old;
    return replacement;
}

CFlatButton* BindFlatButton(std::map<int, QWidget*>& controls, int id)
{
    QWidget* w = controls.at(id);
    if (auto* flat = qobject_cast<CFlatButton*>(w))
        return flat;
    auto* button = qobject_cast<QAbstractButton*>(w);
    Q_ASSERT_X(button, "BindFlatButton", "the template's control is no button");
    return static_cast<CFlatButton*>(ReplaceControl(controls, w, new CFlatButton(button->text())));
}

void UseModalFrame(QDialog& dialog)
{
    dialog.setWindowFlags((dialog.windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
}

void AdoptActiveWindowAsOwner(QDialog& dialog)
{
    if (dialog.parentWidget())
        return;
    QWidget* owner = QApplication::activeWindow();
    if (owner && owner != &dialog)
        dialog.setParent(owner, dialog.windowFlags());
}
