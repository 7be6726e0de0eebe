#include "owner_draw_button.h"
#include "dialog_builder.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVariant>

COwnerDrawButton::COwnerDrawButton(QWidget* parent)
    : QAbstractButton(parent)
{
}

int COwnerDrawButton::GetDlgCtrlID() const
{
    return property(kControlIdProperty).toInt();
}

void COwnerDrawButton::SetDlgCtrlID(int id)
{
    setProperty(kControlIdProperty, id);
}

QSize COwnerDrawButton::sizeHint() const
{
    const QFontMetrics fm(font());
    return { fm.horizontalAdvance(text()) + 1, fm.height() };
}

void COwnerDrawButton::paintEvent(QPaintEvent*)
{
    QPainter dc(this);
    dc.setFont(font());
    emit drawItem({ GetDlgCtrlID(), &dc, rect(), isDown(), hasFocus(), !isEnabled() });
}
