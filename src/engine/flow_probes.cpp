// Fixed-flow rounds: one socket for the whole trace, one destination port, each probe
// named by the tag its data bytes put into the UDP checksum. An answer that quotes
// neither the checksum in a form we can read nor the data is placed only where it
// cannot be anyone else's: in the row of the one probe under way.
#include "icmp_answer.h"
#include "trace_engine.h"

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
    m_nLoneRow = -1;
    for (int j = 0; j < m_list.GetItemCount() && RowMatters(j); ++j) {
        if (m_list.GetItemData(j)->answered())
            continue;
        if (m_bOneAtATime)
            m_loneRows.push_back(j);
        else if (!SendFlowProbe(j))
            return;
    }
    if (m_bOneAtATime)
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
    if (!m_flowTags || answer.quotedDestination != m_target || answer.quotedDestinationPort != kFlowPort
        || answer.quotedSourcePort != m_flow.sourcePort)
        return;
    int round = -1;
    int row = -1;
    if (answer.quotedDataLength >= kFlowDataLength) {
        // The data bytes are ours unchanged: what they do not name is no probe of ours.
        if (!m_flowTags->Decode(m_flowTags->TagOfData(answer.quotedData.data()), &round, &row))
            return;
    } else if (!answer.hasQuotedChecksum || !m_flowTags->Decode(answer.quotedChecksum, &round, &row)) {
        // No tag to read (or an unfinished checksum): the lone probe under way, if any.
        if (m_nLoneRow < 0) {
            m_bOneAtATime = true;
            return;
        }
        row = m_nLoneRow;
    }
    if (row >= m_list.GetItemCount())
        return;
    const int64_t sentUs = round < 0 ? m_rounds.LatestSendTime(row) : m_rounds.SendTimeOfRound(round, kTagRounds, row);
    if (sentUs == ProbeRounds::kNotSent)
        return;
    FillRow(answer, row, sentUs, handlerUs);
}

void TraceEngine::CloseFlow()
{
    if (m_flowTags)
        m_platform.probe->Close();
    m_flowTags.reset();
}
