#include "host_history.h"
#include "settings/window_state.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStringListModel>
#include <QStyle>
#include <QStyleOption>

namespace {

// The style's own drop-down arrow, as a combo box shows it.
QIcon DropDownArrow(const QWidget* field)
{
    const int side = field->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, field);
    QPixmap pixmap(QSize(side, side) * field->devicePixelRatioF());
    pixmap.setDevicePixelRatio(field->devicePixelRatioF());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QStyleOption option;
    option.initFrom(field);
    option.rect = QRect(0, 0, side, side);
    field->style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &option, &painter, field);
    return QIcon(pixmap);
}

} // namespace

HostHistory::HostHistory(QLineEdit* field)
    : QObject(field)
    , m_field(field)
    , m_model(new QStringListModel(this))
    , m_completer(new QCompleter(m_model, this))
    , m_dropDown(field->addAction(DropDownArrow(field), QLineEdit::TrailingPosition))
{
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_completer->setMaxVisibleItems(hl::kRecentHostsMax);
    field->setCompleter(m_completer);
    m_dropDown->setToolTip(tr("Hosts traced last"));
    m_dropDown->setVisible(false);
    connect(m_dropDown, &QAction::triggered, this, &HostHistory::ShowDropDown);
    field->installEventFilter(this);
}

QStringList HostHistory::hosts() const
{
    return m_model->stringList();
}

void HostHistory::SetHosts(const QStringList& hosts)
{
    m_model->setStringList(hosts);
    m_dropDown->setVisible(!hosts.isEmpty());
}

void HostHistory::AddHost(const QString& host)
{
    SetHosts(hl::WithRecentHost(hosts(), host));
}

void HostHistory::ShowDropDown()
{
    if (hosts().isEmpty())
        return;
    // The field takes the picked host only while it has the focus, which the arrow at its
    // end does not give it.
    m_field->setFocus(Qt::PopupFocusReason);
    // All of them, whatever the field holds; typing then narrows the list as usual.
    m_completer->setCompletionPrefix(QString());
    m_completer->complete();
}

bool HostHistory::eventFilter(QObject* watched, QEvent* event)
{
    // Alt+Down opens the list as it opens a combo box's.
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::AltModifier) {
            ShowDropDown();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
