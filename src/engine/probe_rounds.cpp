#include "probe_rounds.h"

void ProbeRounds::Begin(uint16_t sourcePort, int rows)
{
    // A port remembered is still the same socket's (no other round is given it), whose
    // stamps go on counting: a fixed flow's one socket serves every round.
    uint32_t firstLeft = 0;
    for (auto it = m_rounds.rbegin(); it != m_rounds.rend(); ++it) {
        if (it->sourcePort == sourcePort) {
            firstLeft = it->firstLeft + uint32_t(it->leftRows.size());
            break;
        }
    }
    if (m_rounds.size() >= kMaxRounds)
        m_rounds.pop_front();
    m_rounds.push_back(
        { sourcePort, m_nextIndex++, kNotSent, std::vector<int64_t>(size_t(rows), kNotSent), firstLeft, {} });
    m_usedPorts.set(sourcePort);
}

void ProbeRounds::Sent(int row, int64_t atUs, bool left)
{
    Round& round = m_rounds.back();
    if (row < 0 || size_t(row) >= round.sentUs.size())
        return;
    round.sentUs[size_t(row)] = atUs;
    if (round.startUs == kNotSent)
        round.startUs = atUs;
    if (left)
        round.leftRows.push_back(row);
}

std::optional<ProbeRef> ProbeRounds::TakeSendStamp(uint16_t sourcePort, uint32_t sendIndex, int64_t leftUs)
{
    for (auto it = m_rounds.rbegin(); it != m_rounds.rend(); ++it) {
        if (it->sourcePort != sourcePort || sendIndex < it->firstLeft)
            continue;
        const uint32_t nth = sendIndex - it->firstLeft;
        if (nth >= it->leftRows.size())
            return std::nullopt;
        const int row = it->leftRows[nth];
        int64_t& sentUs = it->sentUs[size_t(row)];
        if (leftUs < sentUs)
            return std::nullopt;
        sentUs = leftUs;
        return ProbeRef { it->index, row, leftUs };
    }
    return std::nullopt;
}

namespace {
std::optional<ProbeRef> ProbeOf(int index, const std::vector<int64_t>& sentUs, int row)
{
    if (row < 0 || size_t(row) >= sentUs.size() || sentUs[size_t(row)] == ProbeRounds::kNotSent)
        return std::nullopt;
    return ProbeRef { index, row, sentUs[size_t(row)] };
}
} // namespace

bool ProbeRounds::PortRemembered(uint16_t port) const
{
    for (const Round& round : m_rounds) {
        if (round.sourcePort == port)
            return true;
    }
    return false;
}

std::optional<ProbeRef> ProbeRounds::Find(uint16_t sourcePort, int row) const
{
    for (auto it = m_rounds.rbegin(); it != m_rounds.rend(); ++it) {
        if (it->sourcePort == sourcePort)
            return ProbeOf(it->index, it->sentUs, row);
    }
    return std::nullopt;
}

std::optional<ProbeRef> ProbeRounds::FindOfRound(int round, int modulo, int row) const
{
    for (auto it = m_rounds.rbegin(); it != m_rounds.rend(); ++it) {
        if (it->index % modulo == round)
            return ProbeOf(it->index, it->sentUs, row);
    }
    return std::nullopt;
}

int64_t ProbeRounds::LatestSendTime(int row) const
{
    for (auto it = m_rounds.rbegin(); it != m_rounds.rend(); ++it) {
        if (row >= 0 && size_t(row) < it->sentUs.size() && it->sentUs[size_t(row)] != kNotSent)
            return it->sentUs[size_t(row)];
    }
    return kNotSent;
}

int64_t ProbeRounds::FirstSendTime(int row) const
{
    for (const Round& round : m_rounds) {
        if (row >= 0 && size_t(row) < round.sentUs.size() && round.sentUs[size_t(row)] != kNotSent)
            return round.sentUs[size_t(row)];
    }
    return kNotSent;
}

int64_t ProbeRounds::LatestRoundStart() const
{
    return m_rounds.empty() ? kNotSent : m_rounds.back().startUs;
}
