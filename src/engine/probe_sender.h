#pragma once
#include "net_address.h"
#include "probe_socket.h"
#include "tick_clock.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Opening a round's probe socket and sending its probes: the one way the trace and the
// watch put probes on the wire, so both retry, time and judge failures alike.

struct ProbeOpen {
    enum Result {
        Opened,
        Skipped, // short of buffers, descriptors or fresh ports: a later round may do
        Failed, // no socket of this family or for this route: no probe can go (`error`)
    };
    Result result = Opened;
    int error = 0;
};

// Opens `sock` for a round (or, with `flow`, for a fixed flow to `target`). A port that
// `portTaken` names (answers to an earlier round may still quote it) is given back and
// another asked for, since those answers would be timed from the new round's probes.
ProbeOpen OpenProbeSocket(
    ProbeSocket& sock, const NetAddress& target, bool flow, const std::function<bool(uint16_t)>& portTaken);

struct ProbeSend {
    enum Result {
        Sent,
        Dropped, // lost to a full buffer or an echoed answer: it counts as sent (and lost)
        Failed, // a reason every later probe would meet too (`error`)
    };
    Result result = Sent;
    int error = 0;
    // When it left: the clock read just before the send, since on a fast path the answer
    // can arrive (and be stamped by the kernel) before sendto() returns.
    int64_t sentUs = 0;
};

ProbeSend SendProbe(
    ProbeSocket& sock, TickClock& clock, const NetAddress& to, int ttl, uint16_t port, const uint8_t* data, size_t len);

// Default mode: the probe of row j goes to this port, and the quoted port names the row.
inline uint16_t ProbePortOfRow(int row)
{
    return uint16_t(-(row + 1)); // 65535 - row
}
inline int RowOfProbePort(uint16_t port)
{
    return 255 - (port & 0xff);
}
