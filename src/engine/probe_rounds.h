#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// One probe an answer names: its round's number (0 for the first), its row (hop count
// minus one) and when it left.
struct ProbeRef {
    int round = 0;
    int row = 0;
    int64_t sentUs = 0;
};

// When each probe of a trace left, round by round, until the trace ends: an answer is
// timed from the probe it answers, which the quoted source port (one socket, one port
// per round, never one an earlier round of the trace had) and the quoted destination
// port (one per row) name together, or, on a fixed flow, the round's number and the row
// that the probe's tag names.
class ProbeRounds {
public:
    static constexpr int kNotSent = -1;

    void Clear()
    {
        m_rounds.clear();
        m_nextIndex = 0;
        m_usedPorts.reset();
    }
    // Whether a round of this trace, remembered or not, was sent from this port: a
    // socket given it again must not be used, or that round's late answers would be
    // timed from the new round's probes.
    bool PortUsed(uint16_t port) const { return m_usedPorts.test(port); }
    // Whether a round still remembered was sent from this port: a watch, which runs
    // for longer than there are ports, may give a port again once its round is forgotten.
    bool PortRemembered(uint16_t port) const;
    // A new round from a socket bound to this port.
    void Begin(uint16_t sourcePort, int rows);
    // The latest round's probe for this row went at `atUs` (the clock read just before the
    // send). `left`: the system took it, so the socket's transmit stamps count it.
    void Sent(int row, int64_t atUs, bool left);
    // The kernel's stamp of the probe that was the `sendIndex`th to leave from this port
    // (counted from 0 over the rounds of one socket): it left at `leftUs`, which its send
    // time becomes. Nothing when no probe remembered is that one, or when the stamp is
    // earlier than the clock read before its send, which only a stamp of another probe
    // can be.
    std::optional<ProbeRef> TakeSendStamp(uint16_t sourcePort, uint32_t sendIndex, int64_t leftUs);
    // The probe for this row sent from this port; nothing for a port or row of no round
    // remembered, or a row the round did not probe.
    std::optional<ProbeRef> Find(uint16_t sourcePort, int row) const;
    // The same for the round whose number is `round` modulo `modulo`, the latest such.
    std::optional<ProbeRef> FindOfRound(int round, int modulo, int row) const;
    // The latest round's number: 0 for the first of the trace.
    int LatestRound() const { return m_rounds.empty() ? -1 : m_rounds.back().index; }
    // When the row's latest probe left; kNotSent when it was never probed.
    int64_t LatestSendTime(int row) const;
    // When the row's first probe of those still remembered left.
    int64_t FirstSendTime(int row) const;
    int64_t LatestRoundStart() const;
    bool Empty() const { return m_rounds.empty(); }

private:
    struct Round {
        uint16_t sourcePort;
        int index;
        int64_t startUs = kNotSent;
        std::vector<int64_t> sentUs; // per row
        uint32_t firstLeft = 0; // how many probes had left from the socket before this round
        std::vector<int> leftRows; // the rows of the probes that left, in order
    };
    // Rounds long past cannot be answered any more (their sockets are gone too); as
    // their ports are never used again in the trace, forgetting them times no answer
    // wrongly.
    static constexpr size_t kMaxRounds = 64;
    std::deque<Round> m_rounds;
    int m_nextIndex = 0;
    std::bitset<65536> m_usedPorts;
};
