#pragma once
#include <cstdint>
#include <string>

// What an answer means for its row: the Result text, whether the target itself
// answered (a port unreachable from the probe's destination), and whether the probes
// go no further than the one who answered (any destination unreachable).
struct Classification {
    std::string text;
    bool reachedTarget = false;
    bool endsPath = false;
};

// The one table of answers: ICMP (IPv4) and ICMPv6 types and codes, the IPv6 ones
// reusing the IPv4 texts where they mean the same.
Classification ClassifyIcmp(bool v6, uint8_t type, uint8_t code);
