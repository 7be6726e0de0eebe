#include "flow_tag.h"

#include <algorithm>

namespace {
uint32_t AddWords(uint32_t sum, const uint8_t* p, size_t len)
{
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += uint32_t(p[i] << 8 | p[i + 1]);
    if (len & 1)
        sum += uint32_t(p[len - 1] << 8);
    return sum;
}

uint16_t Fold(uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(sum);
}

// Source and destination address, protocol and UDP length: the same words for both
// families, since the IPv6 pseudo header only widens the length and protocol fields.
uint32_t PseudoHeaderSum(const ProbeFlow& flow, size_t udpLength)
{
    const size_t n = flow.source.isV4() ? 4 : 16;
    uint32_t sum = AddWords(0, flow.source.bytes.data(), n);
    sum = AddWords(sum, flow.destination.bytes.data(), n);
    return sum + 17 + uint32_t(udpLength);
}

uint32_t HeaderSum(const ProbeFlow& flow, size_t udpLength)
{
    return PseudoHeaderSum(flow, udpLength) + flow.sourcePort + flow.destinationPort + uint32_t(udpLength);
}
} // namespace

uint16_t UdpChecksum(const ProbeFlow& flow, const uint8_t* data, size_t len)
{
    const uint16_t sum = uint16_t(~Fold(AddWords(HeaderSum(flow, 8 + len), data, len)));
    return sum == 0 ? 0xffff : sum;
}

FlowTags::FlowTags(const ProbeFlow& flow)
{
    constexpr size_t kLength = 8 + kFlowDataLength;
    m_rest = Fold(HeaderSum(flow, kLength));
    // Offload leaves the folded pseudo header sum in the checksum field; which of it or
    // its complement a driver shows differs, so neither names a probe.
    const uint16_t partial = Fold(PseudoHeaderSum(flow, kLength));
    m_avoid = { std::min<uint16_t>(partial, uint16_t(~partial)), std::max<uint16_t>(partial, uint16_t(~partial)) };
}

uint16_t FlowTags::Tag(int round, int row) const
{
    // 1 + (round, row) counted densely, stepping over the values to avoid: at most
    // 255 * 256 + 2, short of 0xFFFF.
    uint32_t v = 1 + uint32_t(round % kTagRounds) * kTagRows + uint32_t(row % kTagRows);
    for (uint16_t a : m_avoid) {
        if (a != 0 && v >= a)
            ++v;
    }
    return uint16_t(v);
}

bool FlowTags::Decode(uint16_t tag, int* round, int* row) const
{
    if (tag == 0 || tag == 0xffff || tag == m_avoid[0] || tag == m_avoid[1])
        return false;
    uint32_t v = tag;
    for (auto it = m_avoid.rbegin(); it != m_avoid.rend(); ++it) {
        if (*it != 0 && tag > *it)
            --v;
    }
    const uint32_t k = v - 1;
    if (k >= uint32_t(kTagRounds) * kTagRows)
        return false;
    *round = int(k / kTagRows);
    *row = int(k % kTagRows);
    return true;
}

std::array<uint8_t, kFlowDataLength> FlowTags::DataFor(uint16_t tag) const
{
    // The checksum is ~(rest + data) in one's complement: data = ~tag - rest.
    const uint16_t data = Fold(uint32_t(uint16_t(~tag)) + uint16_t(~m_rest));
    return { uint8_t(data >> 8), uint8_t(data) };
}

uint16_t FlowTags::TagOfData(const uint8_t* data) const
{
    const uint16_t sum = uint16_t(~Fold(uint32_t(m_rest) + uint32_t(data[0] << 8 | data[1])));
    return sum == 0 ? 0xffff : sum;
}
