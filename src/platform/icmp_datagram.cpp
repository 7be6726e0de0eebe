#include "icmp_datagram.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint8_t kUdp = 17;

uint16_t Port(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

// The checksum and the first data bytes of the quoted UDP datagram, as far as the
// answer holds them and the probe had them (`udpLength`: what the quoted IP header
// says the datagram was).
void TakeQuotedUdpRest(const uint8_t* data, size_t len, size_t udp, size_t udpLength, IcmpAnswer* answer)
{
    if (udp + 8 > len)
        return;
    answer->hasQuotedChecksum = true;
    answer->quotedChecksum = Port(data + udp + 6);
    const size_t quoted
        = std::min({ len - (udp + 8), udpLength > 8 ? udpLength - 8 : size_t(0), answer->quotedData.size() });
    std::memcpy(answer->quotedData.data(), data + udp + 8, quoted);
    answer->quotedDataLength = uint8_t(quoted);
}
} // namespace

void ParseIcmpV4Datagram(const uint8_t* data, size_t len, IcmpAnswer* answer)
{
    answer->kind = IcmpAnswer::Malformed;
    if (len < kIcmpMinLength)
        return;
    const size_t outerHeader = size_t(data[0] & 0x0f) * 4;
    if (outerHeader < 20)
        return;
    const size_t quoted = outerHeader + 8; // after the ICMP header
    if (quoted + 20 > len)
        return;
    answer->type = data[outerHeader];
    answer->code = data[outerHeader + 1];
    if (data[quoted + 9] != kUdp) {
        answer->kind = IcmpAnswer::NotUdp;
        return;
    }
    const size_t quotedHeader = size_t(data[quoted] & 0x0f) * 4;
    const size_t udp = quoted + quotedHeader;
    // Routers must quote at least 8 bytes past the header; 4 are enough for the ports.
    if (quotedHeader < 20 || udp + 4 > len)
        return;
    uint32_t destination;
    std::memcpy(&destination, data + quoted + 16, 4);
    answer->quotedDestination = NetAddress::FromV4(destination);
    answer->quotedSourcePort = Port(data + udp);
    answer->quotedDestinationPort = Port(data + udp + 2);
    const size_t total = Port(data + quoted + 2);
    TakeQuotedUdpRest(data, len, udp, total > quotedHeader ? total - quotedHeader : 0, answer);
    answer->kind = IcmpAnswer::Probe;
}

void ParseIcmpV6Message(const uint8_t* data, size_t len, IcmpAnswer* answer)
{
    constexpr size_t kQuoted = 8; // after the ICMPv6 header
    constexpr size_t kUdpAt = kQuoted + 40; // after the quoted IPv6 header
    answer->kind = IcmpAnswer::Malformed;
    if (len < kQuoted)
        return;
    answer->type = data[0];
    answer->code = data[1];
    if (answer->type < 1 || answer->type > 4) {
        answer->kind = IcmpAnswer::NotUdp; // an informational message quotes nothing
        return;
    }
    if (len < kQuoted + 40)
        return;
    if ((data[kQuoted] >> 4) != 6)
        return;
    if (data[kQuoted + 6] != kUdp) {
        answer->kind = IcmpAnswer::NotUdp;
        return;
    }
    if (len < kUdpAt + 4)
        return;
    answer->quotedDestination.family = NetAddress::V6;
    std::memcpy(answer->quotedDestination.bytes.data(), data + kQuoted + 24, 16);
    answer->quotedSourcePort = Port(data + kUdpAt);
    answer->quotedDestinationPort = Port(data + kUdpAt + 2);
    TakeQuotedUdpRest(data, len, kUdpAt, Port(data + kQuoted + 4), answer);
    answer->kind = IcmpAnswer::Probe;
}
