// The end of a trace: the table is cut to the path found, then every router that
// answered is looked up by address, all at once, each name filling its row as it comes.
#include "trace_engine.h"

#include <sched.h>

void TraceEngine::TrimHopRows()
{
    m_sockIcmp->SetNotify(false);

    // Keep at most one silent row after the last answer (the first row if none answered).
    int n = m_list.GetItemCount();
    while (n > 1 && !m_list.GetItemData(n - 1)->answered() && !m_list.GetItemData(n - 2)->answered()) {
        m_list.DeleteItem(n - 1);
        --n;
    }
    // Probes with a larger time-to-live than the path reach the target too, or the
    // router that cannot reach it: drop every row after the first where either answered.
    for (int i = 0; i + 1 < m_list.GetItemCount(); ++i) {
        if (m_list.GetItemData(i)->bEndsPath) {
            for (int k = m_list.GetItemCount() - 1; k > i; --k)
                m_list.DeleteItem(k);
            break;
        }
    }
    SetStatus(QStringLiteral("Complete."));
    m_bDone = true;
}

void TraceEngine::StartLookups()
{
    TrimHopRows();
    if (!m_params.m_bLookups)
        return;
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        HopRow* row = m_list.GetItemData(i);
        if (!row->answered())
            continue;
        if (!row->address.valid())
            continue; // never looked up, so it counts as done
        row->hLookup = m_platform.reverse->Start(row->address);
        if (row->hLookup != 0)
            SetStatus(QStringLiteral("Looking up..."));
        sched_yield();
    }
}

void TraceEngine::OnLookupDone(int handle, int error, const QByteArray& name)
{
    // Lookups belong to a trace that has ended; one reporting while a new trace probes
    // is from an abandoned trace and must neither fill a row nor end the new trace.
    if (!m_bDone)
        return;
    const int count = m_list.GetItemCount();
    for (int i = 0; i < count; ++i) {
        HopRow* row = m_list.GetItemData(i);
        if (row->hLookup != handle)
            continue;
        // No name known: the address stands in.
        const std::string host = error == 0 && !name.isEmpty() ? name.toStdString() : row->pszAddress;
        row->bLookupDone = true;
        m_list.UpdateHopRow(nullptr, nullptr, nullptr, host.c_str(), nullptr, i);
        break;
    }
    if (OutstandingLookups() == 0) {
        // A trace that ended in failure keeps saying why.
        if (!m_bResolveFailed && m_nSendError == 0)
            SetStatus(QStringLiteral("Complete."));
        m_bDone = true;
        m_nRoundsLeft = 0;
        m_platform.timer->KillTimer(IDT_ROUND);
    }
    NotifyIfFinished();
}

int TraceEngine::OutstandingLookups() const
{
    // A row whose lookup never started (no handle, or handle 0) is done: it will never
    // get a name, and waiting for one would keep "Looking up..." for ever.
    int outstanding = 0;
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        const HopRow* row = m_list.GetItemData(i);
        if (row->answered() && row->hLookup > 0 && !row->bLookupDone)
            ++outstanding;
    }
    return outstanding;
}

void TraceEngine::CancelLookups()
{
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        const HopRow* row = m_list.GetItemData(i);
        if (row->hLookup > 0 && !row->bLookupDone)
            m_platform.reverse->Cancel(row->hLookup);
    }
}
