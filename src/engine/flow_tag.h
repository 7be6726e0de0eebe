#pragma once
#include "net_address.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Fixed-flow probes: every probe of a trace carries the same addresses and ports, so
// load-balancing routers send them all one way. What tells them apart is the UDP
// checksum, which every router quotes: the two data bytes are chosen so that the
// checksum the kernel computes is a tag naming the probe's round and row. The same two
// bytes name the probe where only the quoted data comes back (the error queue).

// Destination port of every fixed-flow probe: the classic tracer's first port.
inline constexpr uint16_t kFlowPort = 33434;
inline constexpr size_t kFlowDataLength = 2;
// Rounds are told apart modulo this; a trace remembers fewer rounds than that.
inline constexpr int kTagRounds = 255;
inline constexpr int kTagRows = 256;

struct ProbeFlow {
    NetAddress source;
    NetAddress destination;
    uint16_t sourcePort = 0;
    uint16_t destinationPort = kFlowPort;
};

// The UDP checksum of a datagram of this flow carrying `data`, as the kernel puts it on
// the wire (a computed 0 goes out as 0xFFFF).
uint16_t UdpChecksum(const ProbeFlow& flow, const uint8_t* data, size_t len);

class FlowTags {
public:
    explicit FlowTags(const ProbeFlow& flow);
    // The checksum that names this probe: never 0 ("no checksum"), never 0xFFFF, and
    // never the value a send with checksum offload leaves unfinished in the packet, so
    // that a quoted partial checksum names no probe.
    uint16_t Tag(int round, int row) const;
    // The round (modulo kTagRounds) and row a tag names; false for a value no probe has.
    bool Decode(uint16_t tag, int* round, int* row) const;
    // The data bytes that make the kernel's checksum equal the tag, and back.
    std::array<uint8_t, kFlowDataLength> DataFor(uint16_t tag) const;
    uint16_t TagOfData(const uint8_t* data) const;

private:
    uint16_t m_rest = 0; // folded sum of pseudo header and UDP header, checksum 0
    std::array<uint16_t, 2> m_avoid {}; // the unfinished-offload values, ascending
};
