#pragma once
#include "net_address.h"

#include <cstdint>

// What became of one probe: the only thing the watch loop tells the statistics. Each probe
// is reported InFlight when it leaves, then once Answered or Lost when its deadline decides
// it, and possibly Late afterwards. Keeping "in flight" a status of its own is what lets
// every ratio leave out probes whose fate is still open, instead of counting them lost.
enum class ProbeStatus : uint8_t {
    InFlight, // sent, its deadline not yet passed
    Answered, // answered before its deadline
    Lost, // the deadline passed without an answer
    Late, // an answer to a probe already reported Lost: it stays lost, the answer is noted
    NotProbed, // only in the history: the round sent nothing at this hop count
};

struct ProbeOutcome {
    int64_t round = 0;
    int ttl = 0; // the probe's hop count, from 1
    ProbeStatus status = ProbeStatus::InFlight;
    int64_t sentUs = 0; // when the probe left, on the watch's clock (>= 0); places it in history
    double rttUs = 0; // Answered and Late: from the probe leaving to its answer arriving
    NetAddress address; // Answered and Late: who answered
    bool fromTarget = false; // the answer is the target's own (it reached the destination)
};
