#include "probe_rounds.h"

void ProbeRounds::Begin(uint16_t sourcePort, int rows)
{
    if (m_rounds.size() >= kMaxRounds)
        m_rounds.pop_front();
    m_rounds.push_back({ sourcePort, m_nextIndex++, kNotSent, std::vector<int64_t>(size_t(rows), kNotSent) });
    m_usedPorts.set(sourcePort);
}

void ProbeRounds::Sent(int row, int64_t atUs)
{
    Round& round = m_rounds.back();
    if (row < 0 || size_t(row) >= round.sentUs.size())
        return;
    round.sentUs[size_t(row)] = atUs;
    if (round.startUs == kNotSent)
        round.startUs = atUs;
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
