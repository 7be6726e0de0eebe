// The results list's context menu: copying rows, all of the table or the answering
// addresses to the clipboard, and asking the window for a report.
#include "hop_list_view.h"
#include "hop_row_list.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMetaMethod>

namespace {

struct RowMenuItem {
    HopListView::RowCommand command;
    const char* text;
    // The key that does the same outside the menu (the list's Ctrl+C, the window's
    // Ctrl+S), shown beside the text; UnknownKey: none.
    QKeySequence::StandardKey key;
};

constexpr RowMenuItem kRowMenu[] = {
    { HopListView::CopyRow, "Copy row", QKeySequence::Copy },
    { HopListView::CopyAll, "Copy all", QKeySequence::UnknownKey },
    { HopListView::CopyAddress, "Copy address", QKeySequence::UnknownKey },
    { HopListView::SaveReport, "Save report\u2026", QKeySequence::Save },
};

void ToClipboard(const QString& text)
{
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

} // namespace

QString HopListView::SelectedAddressesText() const
{
    // Only a row that answered has an address; the others' cells hold what they say instead.
    QString text;
    for (int row : SelectedRows()) {
        const QVariant address = model()->index(row, 0, rootIndex()).data(kAnswerAddressRole);
        if (address.isValid())
            text += address.toString() + QLatin1Char('\n');
    }
    return text;
}

QMenu* HopListView::CreateRowMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const bool anyRows = model() && model()->rowCount(rootIndex()) > 0;
    const bool reportTaken = isSignalConnected(QMetaMethod::fromSignal(&HopListView::saveReportRequested));
    for (const RowMenuItem& item : kRowMenu) {
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setData(int(item.command));
        if (item.key != QKeySequence::UnknownKey) {
            action->setShortcut(item.key);
            action->setShortcutVisibleInContextMenu(true);
        }
        switch (item.command) {
        case CopyRow:
            action->setEnabled(!SelectedRows().empty());
            connect(action, &QAction::triggered, this, &HopListView::CopySelectedRows);
            break;
        case CopyAll:
            action->setEnabled(anyRows);
            connect(action, &QAction::triggered, this, [this] { ToClipboard(AllRowsText()); });
            break;
        case CopyAddress:
            action->setEnabled(!SelectedAddressesText().isEmpty());
            connect(action, &QAction::triggered, this, [this] { ToClipboard(SelectedAddressesText()); });
            break;
        case SaveReport:
            menu->insertSeparator(action);
            action->setEnabled(anyRows && reportTaken);
            connect(action, &QAction::triggered, this, &HopListView::saveReportRequested);
            break;
        }
    }
    return menu;
}

void HopListView::contextMenuEvent(QContextMenuEvent* event)
{
    // Shown without a modal loop of its own, and gone once closed.
    QMenu* menu = CreateRowMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}
