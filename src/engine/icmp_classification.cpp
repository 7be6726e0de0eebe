#include "icmp_classification.h"

#include <cstdio>

namespace {

std::string Format(const char* format, int value)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

Classification ClassifyV4(uint8_t type, uint8_t code)
{
    switch (type) {
    case 0: return { "ping reply (?)" };
    case 3:
        switch (code) {
        case 0: return { "network unreachable" };
        case 1: return { "host unreachable" };
        case 2: return { "protocol unreachable" };
        case 3: return { "complete", true }; // port unreachable: the target itself answered
        case 4: return { "fragmentation reqired" };
        case 5: return { "source route failed" };
        default: return { Format("ICMP type 3 code %d", code) };
        }
    case 4: return { "quench" };
    case 5: return { "redirect" };
    case 8: return { "ping request (?)" };
    case 9: return { "router announce (?)" };
    case 10: return { "router query (?)" };
    case 11: return { "next" }; // time exceeded: a router on the way
    case 12: return { "invalid datagram" };
    default: return { Format("ICMP type %d", type) };
    }
}

Classification ClassifyV6(uint8_t type, uint8_t code)
{
    switch (type) {
    case 1: // destination unreachable
        switch (code) {
        case 0: return { "network unreachable" }; // no route
        case 1: // administratively prohibited
        case 5: // source address failed policy
        case 6: return { "prohibited" }; // reject route
        case 3: return { "host unreachable" }; // address unreachable
        case 4: return { "complete", true }; // port unreachable
        default: break;
        }
        break;
    case 2: return { "fragmentation reqired" }; // packet too big
    case 3: return { "next" }; // time exceeded
    case 4: return { "invalid datagram" }; // parameter problem
    default: break;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "ICMPv6 type %d code %d", type, code);
    return { buf };
}

} // namespace

Classification ClassifyIcmp(bool v6, uint8_t type, uint8_t code)
{
    Classification c = v6 ? ClassifyV6(type, code) : ClassifyV4(type, code);
    c.endsPath = type == (v6 ? 1 : 3); // destination unreachable
    return c;
}
