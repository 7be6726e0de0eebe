// Fixed-flow rounds: one socket for the whole trace, one destination port, each probe
// named by the tag its data bytes put into the UDP checksum. An answer that quotes
// neither the checksum in a form we can read nor the data is placed only where it
// cannot be anyone else's: in the row of the one probe under way, or of the one row
// left that it can answer.
#include "answer_matching.h"
#include "icmp_answer.h"
#include "icmp_classification.h"
#include "trace_engine.h"

#include <algorithm>

void TraceEngine::SendFlowProbes(const NetAddress& target)
{
    if (!m_flowTags || m_flow.destination != target) {
        CloseFlow(); // a name that now resolves elsewhere is a flow of its own
        if (!OpenProbeSocket(target, true))
            return;
        ProbeSocket& sock = *m_platform.probe;
        m_flow = { sock.LocalAddress(), target, sock.LocalPort(), kFlowPort };
        m_flowTags.emplace(m_flow);
    }
    m_target = target;
    m_rounds.Begin(m_flow.sourcePort, m_list.GetItemCount());
    m_loneRows.clear();
    m_unplaced.clear();
    // Lone probes start after the row whose wait ended the last round, so that a row
    // that stays silent does not keep the rows after it from their turn.
    const int first = m_nLoneRow + 1;
    m_nLoneRow = -1;
    for (int j = 0; j < m_list.GetItemCount() && RowMatters(j); ++j) {
        if (m_list.GetItemData(j)->answered())
            continue;
        if (m_bOneAtATime)
            m_loneRows.push_back(j);
        else if (!SendFlowProbe(j))
            return;
    }
    std::rotate(m_loneRows.begin(),
        std::find_if(m_loneRows.begin(), m_loneRows.end(), [first](int j) { return j >= first; }), m_loneRows.end());
    // The first lone probe leaves once the earlier probes' answers can no longer come,
    // else the round timer sends it then. With the full wait a round is one tick and
    // one lone probe, and every earlier probe has had its tick's wait.
    if (m_bOneAtATime && (m_params.m_bFixedWait || UntaggedAnswersOverAt() <= m_platform.clock->MonotonicMicros()))
        SendNextLoneProbe();
}

bool TraceEngine::SendFlowProbe(int row)
{
    const auto data = m_flowTags->DataFor(m_flowTags->Tag(m_rounds.LatestRound(), row));
    return SendProbe(row, kFlowPort, data.data(), data.size());
}

bool TraceEngine::SendNextLoneProbe()
{
    m_nLoneRow = -1;
    while (m_flowTags && !m_loneRows.empty()) {
        const int j = m_loneRows.front();
        m_loneRows.pop_front();
        if (j >= m_list.GetItemCount() || !RowMatters(j) || m_list.GetItemData(j)->answered())
            continue;
        m_nLoneRow = j;
        SendFlowProbe(j);
        return true;
    }
    return false;
}

void TraceEngine::TakeFlowAnswer(const IcmpAnswer& answer, int64_t handlerUs)
{
    if (!m_flowTags)
        return;
    const FlowTagRead tag = ReadFlowTag(answer, m_flow, *m_flowTags);
    if (tag.result == FlowTagRead::NotOurs)
        return;
    std::optional<ProbeRef> probe;
    if (tag.result == FlowTagRead::Tagged) {
        probe = MatchFlowTag(tag, m_rounds);
    } else {
        // No tag to read (or an unfinished checksum): the lone probe under way, if any
        // and not yet answered, since a probe is answered once.
        if (m_nLoneRow < 0) {
            m_bOneAtATime = true;
            KeepUntaggedAnswer(answer, handlerUs);
            PlaceUntaggedAnswers();
            return;
        }
        if (m_list.GetItemData(m_nLoneRow)->answered())
            return;
        const int64_t sentUs = m_rounds.LatestSendTime(m_nLoneRow);
        if (sentUs != ProbeRounds::kNotSent)
            probe = ProbeRef { m_rounds.LatestRound(), m_nLoneRow, sentUs };
    }
    if (!probe || probe->row >= m_list.GetItemCount())
        return;
    FillRow(answer, probe->row, probe->sentUs, handlerUs);
    PlaceUntaggedAnswers();
}

void TraceEngine::KeepUntaggedAnswer(const IcmpAnswer& answer, int64_t handlerUs)
{
    // Only a router on the way: the rows past the end of the path are left out below
    // because whoever ended it quotes tags, which an answer ending it untagged belies.
    if (ClassifyIcmp(answer.quotedDestination.family == NetAddress::V6, answer.type, answer.code).endsPath)
        return;
    const int64_t arrivalUs = answer.stamped ? answer.arrivalUs : handlerUs;
    UnplacedAnswer kept { answer, handlerUs, {} };
    for (int j = 0; j < m_list.GetItemCount(); ++j) {
        const int64_t sentUs = m_rounds.LatestSendTime(j);
        if (!m_list.GetItemData(j)->answered() && sentUs != ProbeRounds::kNotSent
            && arrivalUs - sentUs <= int64_t(m_params.m_nTimeout) * 1000)
            kept.rows.push_back(j);
    }
    m_unplaced.push_back(std::move(kept));
}

void TraceEngine::PlaceUntaggedAnswers()
{
    for (bool placed = true; placed;) {
        placed = false;
        for (auto it = m_unplaced.begin(); it != m_unplaced.end() && !placed;) {
            int left = 0;
            int row = -1;
            for (const int j : it->rows) {
                if (RowMatters(j) && !m_list.GetItemData(j)->answered()) {
                    row = j;
                    ++left;
                }
            }
            if (left > 1) {
                ++it;
                continue;
            }
            // Timed only from a row's one probe: with more, which it answers is unknown.
            const int64_t sentUs = row < 0 ? ProbeRounds::kNotSent : m_rounds.LatestSendTime(row);
            if (sentUs != ProbeRounds::kNotSent && sentUs == m_rounds.FirstSendTime(row)) {
                FillRow(it->answer, row, sentUs, it->handlerUs);
                placed = true; // the others may have only one row left now
            }
            it = m_unplaced.erase(it);
        }
    }
}

void TraceEngine::CloseFlow()
{
    if (m_flowTags)
        m_platform.probe->Close();
    m_flowTags.reset();
}
