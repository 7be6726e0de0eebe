#include "text_fit.h"
#include "command_button.h"
#include "dialog_support.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>

#include <algorithm>
#include <vector>

namespace {

// A label or a check box has empty space to its right that its text may run into; a
// button's text is centred in its edges.
bool TextMayWiden(const QWidget* control)
{
    return qobject_cast<const QLabel*>(control) || qobject_cast<const QCheckBox*>(control);
}

// The text's size in the control's contents, or empty for a control without a text.
QSize TextSize(const QWidget* control)
{
    if (qobject_cast<const QCheckBox*>(control))
        return control->sizeHint(); // the box, the space and the text
    if (qobject_cast<const QLabel*>(control) || qobject_cast<const CommandButton*>(control))
        return TextNeeds(control);
    return {};
}

// The width a label or a check box may take: up to the next visible control to its right
// on its row.
int RoomOf(const QWidget* label, const QList<QWidget*>& controls)
{
    const QRect r = label->geometry();
    int room = r.width();
    int nearest = -1;
    for (const QWidget* other : controls) {
        const QRect o = other->geometry();
        if (other == label || other->isHidden() || o.left() <= r.left() || o.bottom() < r.top() || o.top() > r.bottom())
            continue;
        nearest = nearest < 0 ? o.left() : std::min(nearest, o.left());
    }
    return nearest < 0 ? room : std::max(room, nearest - r.left());
}

std::vector<std::pair<const QWidget*, QSize>> TextsThatDoNotFit(const QList<QWidget*>& controls)
{
    std::vector<std::pair<const QWidget*, QSize>> needs;
    for (QWidget* control : controls) {
        const QSize text = TextSize(control);
        if (control->isHidden() || text.isEmpty())
            continue;
        const QSize frame = control->size() - control->contentsRect().size();
        const int room = TextMayWiden(control) ? RoomOf(control, controls) : control->width();
        const int height = control->contentsRect().height();
        const QSize need(text.width() + frame.width() > room ? text.width() + frame.width() : 0,
            text.height() > height ? text.height() + frame.height() : 0);
        if (need.width() > 0 || need.height() > 0)
            needs.emplace_back(control, need);
    }
    return needs;
}

} // namespace

void FitTextsToControls(QDialog& dialog, const res::DialogTemplate& tmpl)
{
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    const auto needs = TextsThatDoNotFit(controls);
    if (!needs.empty())
        LayOutToFit(dialog, tmpl, needs);
    // A label or check box whose text runs past it takes what it needs of the gap after it.
    for (QWidget* control : controls) {
        if (!TextMayWiden(control) || control->isHidden())
            continue;
        const int text = TextSize(control).width() + control->width() - control->contentsRect().width();
        if (text > control->width())
            control->resize(std::min(text, RoomOf(control, controls)), control->height());
    }
}
