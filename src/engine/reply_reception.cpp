// The ICMP socket: set up once, then answers matched to their hop by the quoted ports
// and timed against the probe they answer.
#include "answer_matching.h"
#include "icmp_answer.h"
#include "icmp_classification.h"
#include "icmp_setup.h"
#include "trace_engine.h"

#include <algorithm>

namespace {
// However many answers a flood has queued, one drain gives the UI thread back.
constexpr int kMaxDrained = 4096;
} // namespace

QStringList TraceEngine::OpenIcmpSocket(int timeoutMs)
{
    return SetUpIcmpSocket(*m_sockIcmp, timeoutMs, &m_bIcmpOpen);
}

void TraceEngine::OnIcmpRead()
{
    const int64_t handlerUs = m_platform.clock->MonotonicMicros();
    if (m_bDone)
        return;
    ReadAnswer(handlerUs);
    NotifyIfFinished();
}

void TraceEngine::DrainAnswers()
{
    for (int n = 0; n < kMaxDrained && !m_bDone; ++n) {
        if (!ReadAnswer(m_platform.clock->MonotonicMicros()))
            break;
    }
}

bool TraceEngine::ReadAnswer(int64_t handlerUs)
{
    IcmpAnswer answer;
    if (!m_sockIcmp->Receive(&answer))
        return false;
    if (answer.kind == IcmpAnswer::Malformed)
        return true;
    if (answer.kind == IcmpAnswer::SendStamp) {
        // When a probe really left: its answer, which comes after, is timed from it.
        m_rounds.TakeSendStamp(answer.quotedSourcePort, answer.sendIndex, answer.leftUs);
        return true;
    }
    TakeAnswer(answer, handlerUs);
    if (m_list.GetItemCount() == 0 || TraceSettled())
        EndTrace(false);
    else if (!m_params.m_bFixedWait)
        ArmRoundTimer(); // what is known now may bring the next round closer, or not
    return true;
}

void TraceEngine::TakeAnswer(const IcmpAnswer& answer, int64_t handlerUs)
{
    if (answer.kind != IcmpAnswer::Probe)
        return;
    if (m_params.m_bFixedFlow) {
        TakeFlowAnswer(answer, handlerUs);
        return;
    }
    // The source port names the round; a port of no round of ours is another program's.
    const std::optional<ProbeRef> probe = MatchPortAnswer(answer, m_target, m_rounds);
    if (probe && probe->row < m_list.GetItemCount())
        FillRow(answer, probe->row, probe->sentUs, handlerUs);
}

void TraceEngine::FillRow(const IcmpAnswer& answer, int j, int64_t sentUs, int64_t handlerUs)
{
    const int64_t arrivalUs = AnswerArrivalUs(answer, sentUs, handlerUs);
    const Classification c = ClassifyIcmp(answer.quotedDestination.family == NetAddress::V6, answer.type, answer.code);
    HopAnswer row;
    row.address = answer.sender;
    row.result = c.text;
    row.reachedTarget = c.reachedTarget;
    row.endsPath = c.endsPath;
    row.sendTick = TickClock::TickOf(sentUs);
    row.arrivalTick = TickClock::TickOf(arrivalUs);
    row.rttUs = std::max<int64_t>(arrivalUs - sentUs, 0);
    m_list.UpdateHopRow(row, j);
}
