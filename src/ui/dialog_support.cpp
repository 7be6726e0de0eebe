#include "dialog_support.h"
#include "dialog_builder.h"
#include "flat_button.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QVariant>

#include <algorithm>

namespace {

// The smallest base unit that maps `dlu` dialog units to at least `pixels` pixels, with
// one pixel to spare for the rounding of each edge.
int UnitFor(int pixels, int dlu, int perUnit)
{
    if (dlu <= 0 || pixels <= 0)
        return 0;
    return ((pixels + 1) * perUnit + dlu - 1) / dlu;
}

} // namespace

QSize TextNeeds(const QWidget* control)
{
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const QFontMetrics fm(label->font());
        return { fm.horizontalAdvance(label->text()), fm.height() };
    }
    if (qobject_cast<const CFlatButton*>(control)) {
        // The etched edge and the focus frame take 4 pixels on each side.
        const QFontMetrics fm(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
        QString text = static_cast<const CFlatButton*>(control)->text();
        text.remove(QLatin1Char('&'));
        return { fm.horizontalAdvance(text) + 10, fm.height() + 4 };
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
        const QFontMetrics fm(button->font());
        return { fm.horizontalAdvance(button->text()), fm.height() };
    }
    return {};
}

void LayOutToFit(
    QDialog& dialog, const res::DialogTemplate& tmpl, const std::vector<std::pair<const QWidget*, QSize>>& needs)
{
    DialogBaseUnits units = BaseUnitsOf(dialog.font());
    DialogBaseUnits fitted = units;
    for (const auto& [control, need] : needs) {
        const QRect r = control->property(kTemplateRectProperty).toRect();
        fitted.cx = std::max(fitted.cx, UnitFor(need.width(), r.width(), 4));
        fitted.cy = std::max(fitted.cy, UnitFor(need.height(), r.height(), 8));
    }
    if (fitted.cx == units.cx && fitted.cy == units.cy)
        return;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QVariant r = w->property(kTemplateRectProperty);
        if (!r.isValid())
            continue;
        const QRect dlu = r.toRect();
        w->setGeometry(MapDialogRect({ dlu.x(), dlu.y(), dlu.width(), dlu.height() }, fitted));
    }
    const QSize client = MapDialogRect({ 0, 0, tmpl.cx, tmpl.cy }, fitted).size();
    if (dialog.minimumSize() == dialog.maximumSize())
        dialog.setFixedSize(client);
    else
        dialog.resize(client);
}

void UseModalFrame(QDialog& dialog)
{
    dialog.setWindowFlags((dialog.windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
}

void AdoptActiveWindowAsOwner(QDialog& dialog)
{
    if (dialog.parentWidget())
        return;
    // The modal dialog running now, when there is one (it is the window the user works
    // in, whether or not the window manager has activated it yet); else the active window.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner && owner != &dialog)
        dialog.setParent(owner, dialog.windowFlags());
}
