#include "icmp_reply.h"

#include <cstring>

IcmpReply ParseIcmpReply(const uint8_t* data, size_t len)
{
    IcmpReply r;
    if (len < kIcmpMinLength)
        return r;
    const size_t outerHeader = size_t(data[0] & 0x0f) * 4;
    if (outerHeader < 20)
        return r;
    const size_t quoted = outerHeader + 8; // after the ICMP header
    if (quoted + 20 > len)
        return r;
    r.type = data[outerHeader];
    r.code = data[outerHeader + 1];
    if (data[quoted + 9] != 17) {
        r.kind = IcmpReply::NotUdp;
        return r;
    }
    const size_t quotedHeader = size_t(data[quoted] & 0x0f) * 4;
    const size_t udp = quoted + quotedHeader;
    // Routers must quote at least 8 bytes past the header; 4 are enough for the ports.
    if (quotedHeader < 20 || udp + 4 > len)
        return r;
    std::memcpy(&r.quotedDestination, data + quoted + 16, 4);
    r.quotedPortLowByte = data[udp + 3];
    r.kind = IcmpReply::Probe;
    return r;
}

std::string ClassifyIcmp(uint8_t type, uint8_t code)
{
    char buf[32];
    switch (type) {
    case 0: return "ping reply (?)";
    case 3:
        switch (code) {
        case 0: return "network unreachable";
        case 1: return "host unreachable";
        case 2: return "protocol unreachable";
        case 3: return "complete"; // port unreachable: the target itself answered
        case 4: return "fragmentation reqired";
        case 5: return "source route failed";
        default:
            std::snprintf(buf, sizeof buf, "ICMP type 3 code %d", int(code));
            return buf;
        }
    case 4: return "quench";
    case 5: return "redirect";
    case 8: return "ping request (?)";
    case 9: return "router announce (?)";
    case 10: return "router query (?)";
    case 11: return "next"; // time exceeded: a router on the way
    case 12: return "invalid datagram";
    default:
        std::snprintf(buf, sizeof buf, "ICMP type %d", int(type));
        return buf;
    }
}
