// Starting a trace, the rounds paced by the round timer, and the one way a trace ends.
#include "trace_engine.h"

#include <algorithm>
#include <string>

TraceEngine::TraceEngine(HopRowList& list, TracePlatform platform, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_platform(std::move(platform))
    , m_sockIcmp(m_platform.icmp.get())
{
    connect(m_platform.timer.get(), &RoundTimer::timeout, this, &TraceEngine::OnTimer);
    connect(m_sockIcmp, &IcmpSocket::readReady, this, &TraceEngine::OnIcmpRead);
    connect(m_platform.reverse.get(), &ReverseResolver::lookupDone, this, &TraceEngine::OnLookupDone);
}

TraceEngine::~TraceEngine()
{
    CancelLookups();
}

void TraceEngine::OnOK()
{
    CancelLookups(); // their rows go now; a late answer must not land in the new trace
    m_list.DeleteAllItems();
    m_sockIcmp->SetNotify(true);
    m_nRoundsLeft = m_nTries;
    m_bDone = false;
    m_bResolveFailed = false;
    m_bFinishSignalled = false;
    m_platform.timer->KillTimer(IDT_ROUND);
    OnTimer(IDT_ROUND);
    if (!m_bDone)
        m_platform.timer->SetTimer(IDT_ROUND, m_nTimeout);
    NotifyIfFinished();
}

void TraceEngine::OnTimer(int nIDEvent)
{
    // A tick that was already on its way when the trace ended must not end it again.
    if (nIDEvent != IDT_ROUND || m_bDone)
        return;
    if (m_nRoundsLeft == m_nTries) {
        m_list.DeleteAllItems();
        // Answers are told apart by 8 bits of the port and a TTL stops at 255: a row
        // beyond that would take the answers of a row 256 hops earlier.
        const int rows = std::min(m_nHops, kMaxHopRows);
        for (int i = 0; i < rows; ++i)
            m_list.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", 0, i);
        SendRound();
        --m_nRoundsLeft;
    } else if (m_nRoundsLeft > 0) {
        SendRound();
        --m_nRoundsLeft;
    } else {
        EndTrace(true);
    }
    NotifyIfFinished();
}

void TraceEngine::EndTrace(bool bMarkUnanswered)
{
    SetStatus(QStringLiteral("Complete."));
    m_bDone = true;
    if (m_nRoundsLeft > 0)
        m_nRoundsLeft = 0;
    m_platform.timer->KillTimer(IDT_ROUND);
    if (bMarkUnanswered) {
        for (int i = 0; i < m_list.GetItemCount(); ++i) {
            if (!m_list.GetItemData(i)->answered())
                m_list.UpdateHopRow(nullptr, "unknown", nullptr, nullptr, "failed", HOPROW_TIME_UNCHANGED, 0, i);
        }
    }
    StartLookups();
}

bool TraceEngine::EveryRowAnswered() const
{
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        if (!m_list.GetItemData(i)->answered())
            return false;
    }
    return true;
}

bool TraceEngine::finished() const
{
    return m_bDone && OutstandingLookups() == 0;
}

void TraceEngine::NotifyIfFinished()
{
    if (!m_bFinishSignalled && finished()) {
        m_bFinishSignalled = true;
        emit traceFinished();
    }
}

void TraceEngine::SetStatus(const QString& text)
{
    m_strStatus = text;
    emit statusChanged(text);
}

void TraceEngine::SetTarget(const QString& text)
{
    m_strTarget = text;
    emit targetChanged(text);
}
