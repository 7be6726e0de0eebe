// The watch in the main window: Trace with "watch" ticked starts one, the button reads
// "Stop" while it runs, and the list shows the watch's table (the five columns, then the
// statistics) from its start until the next trace.
#include "trace_dlg.h"
#include "watch_columns.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>

void CTraceDlg::StartWatch()
{
    m_engine.Abandon(); // it shares the ICMP socket, the timer and the resolver
    m_watchRows.Clear();
    ShowWatchTable();
    WatchParameters params;
    params.maxHops = m_nHops;
    params.waitMs = std::min(m_nTimeout, MaxWaitMs(params.intervalUs));
    params.fixedFlow = m_bFixedFlow;
    params.lookups = m_bLookups;
    m_watch.Start(m_strHost, m_family, params);
}

void CTraceDlg::OnWatchRunning(bool running)
{
    m_btnTrace->setText(running ? QStringLiteral("Stop") : QStringLiteral("Trace"));
    if (!running)
        OnWatchRound(); // the figures as the watch ended
}

void CTraceDlg::OnWatchRound()
{
    if (const PathStats* stats = m_watch.stats())
        m_watchRows.Refresh(*stats, [this](const NetAddress& a) { return m_watch.NameOf(a); });
}

void CTraceDlg::SetUpWatchColumns()
{
    m_list->setItemDelegateForColumn(WC_LOSS, &m_watchDelegate);
    m_list->setItemDelegateForColumn(WC_TIMELINE, &m_watchDelegate);
    QHeaderView* header = m_list->header();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, header,
        [header](const QPoint& pos) { PopUpColumnMenu(*header, pos); });
    m_watchColumns = hl::LoadWatchColumns(m_store);
}

void CTraceDlg::SaveWatchColumns()
{
    if (!m_watchColumns.empty())
        hl::SaveWatchColumns(m_store, m_watchColumns);
}

namespace {
// A view's new model comes with a new selection model; the old one is the view's to drop.
void SetModel(QTreeView& view, QAbstractItemModel* model)
{
    QItemSelectionModel* old = view.selectionModel();
    view.setModel(model);
    delete old;
}
} // namespace

void CTraceDlg::ShowWatchTable()
{
    if (m_list->model() == &m_watchRows)
        return;
    QHeaderView* header = m_list->header();
    const FiveColumns five = FiveColumnsOf(*header);
    SetModel(*m_list, &m_watchRows);
    ApplyWatchColumns(*header, m_watchColumns);
    ApplyFiveColumns(*header, five);
}

void CTraceDlg::ShowTraceTable()
{
    if (m_list->model() == &m_rows)
        return;
    QHeaderView* header = m_list->header();
    m_watchColumns = WatchColumnsOf(*header);
    const FiveColumns five = FiveColumnsOf(*header);
    SetModel(*m_list, &m_rows);
    ApplyFiveColumns(*header, five);
}
