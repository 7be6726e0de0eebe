// Starting a trace, the rounds, when the next one is due, and the one way a trace ends.
#include "round_schedule.h"
#include "trace_engine.h"

#include <algorithm>
#include <string>

TraceEngine::TraceEngine(HopRowList& list, TracePlatform platform, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_platform(std::move(platform))
    , m_sockIcmp(m_platform.icmp.get())
{
    connect(m_platform.timer.get(), &RoundTimer::timeout, this, &TraceEngine::OnRoundTimer);
    connect(m_sockIcmp, &IcmpSocket::readReady, this, &TraceEngine::OnIcmpRead);
    connect(m_platform.resolver.get(), &HostResolver::resolved, this, &TraceEngine::OnResolved);
    connect(m_platform.reverse.get(), &ReverseResolver::lookupDone, this, &TraceEngine::OnLookupDone);
}

TraceEngine::~TraceEngine()
{
    // Whatever the trace opened ends here, while the ICMP socket the probe socket
    // reports to on closing still exists.
    m_platform.timer->KillTimer(IDT_ROUND);
    CloseFlow();
    m_platform.probe->Close();
    CancelLookups();
}

void TraceEngine::OnOK(const TraceParameters& params)
{
    CancelLookups(); // their rows go now; a late answer must not land in the new trace
    m_params = params;
    m_list.DeleteAllItems();
    m_sockIcmp->SetNotify(true);
    // Tries of 0 or below give one round; counting down from the lowest int would wrap.
    m_nRoundsLeft = std::max(m_params.m_nTries, 1);
    m_bFirstRound = true;
    m_bDone = false;
    m_bResolveFailed = false;
    m_nSendError = 0;
    m_bFinishSignalled = false;
    m_bAwaitingTarget = false;
    ++m_nResolveId; // an answer to an earlier trace's resolution no longer counts
    m_bResolving = false;
    m_resolved = {};
    m_rounds.Clear();
    CloseFlow();
    m_bOneAtATime = false;
    m_loneRows.clear();
    m_unplaced.clear();
    m_nLoneRow = -1;
    m_platform.timer->KillTimer(IDT_ROUND);
    OnTimer(IDT_ROUND);
    NotifyIfFinished();
}

void TraceEngine::Abandon()
{
    CancelLookups();
    ++m_nResolveId; // an answer to its resolution no longer counts
    m_bResolving = false;
    m_bAwaitingTarget = false;
    m_bDone = true;
    m_platform.timer->KillTimer(IDT_ROUND);
    CloseFlow();
    m_platform.probe->Close();
}

void TraceEngine::OnTimer(int nIDEvent)
{
    // A tick that was already on its way when the trace ended must not end it again.
    if (nIDEvent != IDT_ROUND || m_bDone)
        return;
    if (m_bFirstRound) {
        m_list.DeleteAllItems();
        // Answers are told apart by 8 bits of the port and a TTL stops at 255: a row
        // beyond that would take the answers of a row 256 hops earlier.
        const int rows = std::min(m_params.m_nHops, kMaxHopRows);
        for (int i = 0; i < rows; ++i)
            m_list.InsertHopRow(std::to_string(i + 1).c_str(), "", "", "", "tracing...", i);
        SendRound();
        m_bFirstRound = false;
        --m_nRoundsLeft;
    } else if (m_nRoundsLeft > 0) {
        SendRound();
        --m_nRoundsLeft;
    } else {
        EndTrace(true);
    }
    ArmRoundTimer();
    NotifyIfFinished();
}

void TraceEngine::OnRoundTimer(int nIDEvent)
{
    if (nIDEvent != IDT_ROUND || m_bDone)
        return;
    // Whatever already arrived counts before the next round or the end, however busy
    // the UI thread was when it came.
    DrainAnswers();
    if (m_bDone)
        return;
    // The answers just read may say it is worth waiting a little longer.
    const int64_t now = m_platform.clock->MonotonicMicros();
    if (!m_params.m_bFixedWait && !m_rounds.Empty() && RoundDue() > now + 500) {
        ArmRoundTimer();
        return;
    }
    // A round of lone probes goes on with its next row while the round's wait lasts (it
    // starts with its first probe); with the full wait, each tick is a round of its own.
    const int64_t start = m_rounds.LatestRoundStart();
    const bool roundLasts = start == ProbeRounds::kNotSent || now < start + int64_t(m_params.m_nTimeout) * 1000;
    if (m_params.m_bFixedFlow && !m_params.m_bFixedWait && roundLasts && SendNextLoneProbe()) {
        if (m_nSendError != 0) {
            FailSend();
            NotifyIfFinished();
            return;
        }
        ArmRoundTimer();
        return;
    }
    OnTimer(IDT_ROUND);
}

void TraceEngine::ArmRoundTimer()
{
    if (m_bDone || m_bAwaitingTarget)
        return;
    RoundTimer& timer = *m_platform.timer;
    if (m_params.m_bFixedWait) {
        if (!timer.IsActive())
            timer.SetTimer(IDT_ROUND, m_params.m_nTimeout);
        return;
    }
    const int64_t now = m_platform.clock->MonotonicMicros();
    // A round that could not send waits in full, from its start: an answer read
    // meanwhile (another program's) must not push the end further.
    const int64_t due = m_rounds.Empty() ? m_nRoundStartUs + int64_t(m_params.m_nTimeout) * 1000 : RoundDue();
    const int64_t ms = (due - now + 999) / 1000;
    timer.SetTimerOnce(IDT_ROUND, int(std::clamp<int64_t>(ms, 0, INT32_MAX)));
}

int64_t TraceEngine::RoundDue() const
{
    const int64_t start = m_rounds.LatestRoundStart();
    const int64_t longest = int64_t(m_params.m_nTimeout) * 1000;
    if (m_bOneAtATime) {
        // An answer without a tag is placed only where no other probe can claim it: a
        // lone probe leaves once every other probe still silent has waited its whole
        // wait, and the round ends when the wait from its first probe is over.
        const int64_t over = UntaggedAnswersOverAt();
        return start == ProbeRounds::kNotSent ? over : std::min(over, start + longest);
    }
    std::vector<RowWait> rows;
    const int complete = FirstCompleteRow();
    for (int j = 0; j < m_list.GetItemCount() && (complete < 0 || j <= complete); ++j) {
        const HopRow* row = m_list.GetItemData(j);
        rows.push_back({ row->answered(), row->nRttUs, m_rounds.FirstSendTime(j), m_rounds.LatestSendTime(j) });
    }
    return NextRoundDue(rows, start, longest, m_nRoundsLeft);
}

int64_t TraceEngine::UntaggedAnswersOverAt() const
{
    int64_t over = ProbeRounds::kNotSent;
    for (int j = 0; j < m_list.GetItemCount() && RowMatters(j); ++j) {
        const int64_t sent = m_rounds.LatestSendTime(j);
        if (!m_list.GetItemData(j)->answered() && sent != ProbeRounds::kNotSent)
            over = std::max(over, sent + int64_t(m_params.m_nTimeout) * 1000);
    }
    return over;
}

int TraceEngine::FirstCompleteRow() const
{
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        if (m_list.GetItemData(i)->bEndsPath)
            return i;
    }
    return -1;
}

bool TraceEngine::RowMatters(int row) const
{
    // Probes with a larger hop limit than the path reach the target too, and the
    // target may answer only a few of them: once it answered, rows past it are done.
    // So are the rows past a router that said the target cannot be reached.
    const int complete = FirstCompleteRow();
    return complete < 0 || row <= complete;
}

bool TraceEngine::TraceSettled() const
{
    const int complete = FirstCompleteRow();
    for (int i = 0; i < m_list.GetItemCount() && (complete < 0 || i <= complete); ++i) {
        if (!m_list.GetItemData(i)->answered())
            return false;
    }
    return true;
}

void TraceEngine::EndTrace(bool bMarkUnanswered)
{
    SetStatus(QStringLiteral("Complete."));
    m_bDone = true;
    if (m_nRoundsLeft > 0)
        m_nRoundsLeft = 0;
    m_bAwaitingTarget = false;
    m_platform.timer->KillTimer(IDT_ROUND);
    CloseFlow(); // before the lookups stop the answers, which may close its descriptor
    m_nLoneRow = -1;
    if (bMarkUnanswered) {
        for (int i = 0; i < m_list.GetItemCount(); ++i) {
            if (!m_list.GetItemData(i)->answered())
                m_list.UpdateHopRow(nullptr, "unknown", nullptr, nullptr, "failed", i);
        }
    }
    StartLookups();
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
