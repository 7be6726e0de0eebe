#include "answer_matching.h"

#include "probe_sender.h"

std::optional<ProbeRef> MatchPortAnswer(const IcmpAnswer& answer, const NetAddress& target, const ProbeRounds& rounds)
{
    if (answer.kind != IcmpAnswer::Probe || answer.quotedDestination != target)
        return std::nullopt;
    return rounds.Find(answer.quotedSourcePort, RowOfProbePort(answer.quotedDestinationPort));
}

FlowTagRead ReadFlowTag(const IcmpAnswer& answer, const ProbeFlow& flow, const FlowTags& tags)
{
    FlowTagRead read;
    if (answer.kind != IcmpAnswer::Probe || answer.quotedDestination != flow.destination
        || answer.quotedDestinationPort != flow.destinationPort || answer.quotedSourcePort != flow.sourcePort)
        return read;
    if (answer.quotedDataLength >= kFlowDataLength) {
        // The data bytes are ours unchanged: what they do not name is no probe of ours.
        if (tags.Decode(tags.TagOfData(answer.quotedData.data()), &read.round, &read.row))
            read.result = FlowTagRead::Tagged;
        return read;
    }
    if (answer.hasQuotedChecksum && tags.Decode(answer.quotedChecksum, &read.round, &read.row))
        read.result = FlowTagRead::Tagged;
    else
        read.result = FlowTagRead::Untagged;
    return read;
}

std::optional<ProbeRef> MatchFlowTag(const FlowTagRead& tag, const ProbeRounds& rounds)
{
    if (tag.result != FlowTagRead::Tagged)
        return std::nullopt;
    return rounds.FindOfRound(tag.round, kTagRounds, tag.row);
}
