#include "owner_draw_button.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVariant>

COwnerDrawButton::COwnerDrawButton(QWidget* parent)
    : QAbstractButton(parent)
{
}

int COwnerDrawButton::GetDlgCtrlID() const
{
    return property("dialogControlId").toInt();
}

void COwnerDrawButton::SetDlgCtrlID(int id)
{
    setProperty("dialogControlId", id);
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
