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
    // Not the field's own completer, which would open the list at every key typed.
    m_completer->setWidget(field);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setMaxVisibleItems(hl::kRecentHostsMax);
    connect(m_completer, qOverload<const QString&>(&QCompleter::activated), field, [field](const QString& host) {
        field->setText(host);
        field->setFocus(Qt::PopupFocusReason); // so that Enter traces it
    });
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
    // All of them, whatever the field holds.
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
