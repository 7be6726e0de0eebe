// The watch in the main window: Trace with "watch" ticked starts one, the button reads
// "Stop" while it runs, and the list shows the watch's table (the five columns, then the
// statistics) from its start until the next trace.
#include "hop_chart.h"
#include "trace_dlg.h"
#include "watch_columns.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSplitter>

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
    SetTraceButtonToolTip(running);
    if (!running)
        OnWatchRound(); // the figures as the watch ended
}

void CTraceDlg::OnWatchRound()
{
    if (const PathStats* stats = m_watch.stats())
        m_watchRows.Refresh(
            *stats, [this](const NetAddress& a) { return m_watch.NameOf(a); }, m_watch.lastFinishedRound());
    if (m_chart->isVisible())
        m_chart->Refresh();
}

void CTraceDlg::SetUpChart()
{
    // The splitter takes the list's place; hidden, the chart leaves the list all of it.
    m_splitResults = new QSplitter(Qt::Vertical, this);
    m_splitResults->setGeometry(m_list->geometry());
    m_splitResults->setChildrenCollapsible(false);
    m_splitResults->addWidget(m_list);
    m_chart = new HopChart(m_watch);
    m_splitResults->addWidget(m_chart);
    m_chart->hide();
    m_splitResults->show();
    // Moved into the splitter, the list keeps its place in the tab order.
    setTabOrder(m_btnTrace, m_list);
    setTabOrder(m_list, m_editHost);
}

QWidget* CTraceDlg::ResultsArea() const
{
    return m_splitResults ? static_cast<QWidget*>(m_splitResults) : m_list;
}

void CTraceDlg::OnHopSelected(const QModelIndex& current)
{
    const SummaryHop* hop = m_watchRows.Hop(current.row());
    if (!hop) {
        HideChart();
        return;
    }
    m_chart->SetHop(hop->ttl);
    if (m_chart->isVisible())
        return;
    const int total = m_splitResults->height();
    const int height
        = std::clamp(m_nChartHeight > 0 ? m_nChartHeight : total / 2, 0, std::max(total - kResultsMinHeight, 0));
    m_chart->show();
    m_splitResults->setSizes({ total - height, height });
}

void CTraceDlg::HideChart()
{
    if (!m_chart->isVisible())
        return;
    m_nChartHeight = m_splitResults->sizes().value(1, m_nChartHeight);
    m_chart->hide();
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
    m_nChartHeight = hl::LoadChartHeight(m_store);
}

void CTraceDlg::SaveWatchColumns()
{
    if (!m_watchColumns.empty())
        hl::SaveWatchColumns(m_store, m_watchColumns);
    if (m_nChartHeight > 0)
        hl::SaveChartHeight(m_store, m_nChartHeight);
}

namespace {
// A view's new model comes with a new selection model; the old one is the view's to drop.
void SetModel(QTreeView& view, QAbstractItemModel* model)
{
    QItemSelectionModel* old = view.selectionModel();
    view.setModel(model);
    delete old;
}

// The list's column shown last stretches over the room the others leave, and reads as
// that wide. Carried to the other table (or saved) at that width, the room would become
// the least it could shrink to; with the stretch off meanwhile it reads as the width it
// was given, and the other table's last column stretches afresh.
template <typename Switch> void WithoutLastColumnStretch(QHeaderView& header, Switch switchTables)
{
    header.setStretchLastSection(false);
    switchTables();
    header.setStretchLastSection(true);
}
} // namespace

void CTraceDlg::ShowWatchTable()
{
    if (m_list->model() == &m_watchRows)
        return;
    QHeaderView* header = m_list->header();
    WithoutLastColumnStretch(*header, [&] {
        const FiveColumns five = FiveColumnsOf(*header);
        SetModel(*m_list, &m_watchRows);
        ApplyWatchColumns(*header, m_watchColumns);
        ApplyFiveColumns(*header, five);
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &CTraceDlg::OnHopSelected);
}

void CTraceDlg::ShowTraceTable()
{
    if (m_list->model() == &m_rows)
        return;
    HideChart();
    QHeaderView* header = m_list->header();
    WithoutLastColumnStretch(*header, [&] {
        m_watchColumns = WatchColumnsOf(*header);
        const FiveColumns five = FiveColumnsOf(*header);
        SetModel(*m_list, &m_rows);
        ApplyFiveColumns(*header, five);
    });
}
