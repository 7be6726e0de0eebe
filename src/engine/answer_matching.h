#pragma once
#include "flow_tag.h"
#include "icmp_answer.h"
#include "probe_rounds.h"

#include <algorithm>
#include <optional>

// Which probe an answer from the ICMP socket answers: the one way the trace and the watch
// tell their answers from other programs' and time them.

// Default mode: the quoted source port names the round (one port per round, never given
// to two rounds remembered at once), the quoted destination port the row. Nothing for an
// answer about another destination, row or port: another program's probe.
std::optional<ProbeRef> MatchPortAnswer(const IcmpAnswer& answer, const NetAddress& target, const ProbeRounds& rounds);

// Fixed flow: what the answer's tag says, where it quotes one.
struct FlowTagRead {
    enum Result {
        NotOurs, // another flow, or a tag no probe has
        Untagged, // ours, but quoting neither readable data nor a finished checksum
        Tagged, // `round` (modulo kTagRounds) and `row` are set
    };
    Result result = NotOurs;
    int round = -1;
    int row = -1;
};
FlowTagRead ReadFlowTag(const IcmpAnswer& answer, const ProbeFlow& flow, const FlowTags& tags);

// A tagged answer's probe among the rounds remembered.
std::optional<ProbeRef> MatchFlowTag(const FlowTagRead& tag, const ProbeRounds& rounds);

// When the answer arrived: the kernel's stamp, which measures the path alone, else the
// time the handler read it. Never before its probe left: a round trip under the clock's
// resolution is that, not negative.
inline int64_t AnswerArrivalUs(const IcmpAnswer& answer, int64_t sentUs, int64_t handlerUs)
{
    return answer.stamped ? std::max(answer.arrivalUs, sentUs) : handlerUs;
}
