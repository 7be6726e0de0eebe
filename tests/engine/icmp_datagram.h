#pragma once
// Builds the datagrams a raw ICMP socket delivers: IPv4 header, ICMP header, then the
// quoted IPv4 header and the first 8 bytes of the quoted UDP probe.
#include <arpa/inet.h>
#include <cstring>
#include <cstdint>
#include <vector>

struct IcmpDatagram {
    uint8_t type = 11;
    uint8_t code = 0;
    uint8_t quotedProtocol = 17;
    uint32_t quotedDestination = 0; // network byte order
    uint16_t quotedPort = 65535;    // host byte order
    size_t outerOptions = 0;        // bytes of IP options, a multiple of 4
    size_t quotedOptions = 0;

    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> d;
        auto ipHeader = [&](size_t options, uint8_t protocol, uint32_t dst) {
            const size_t at = d.size();
            d.resize(at + 20 + options, 0);
            d[at] = uint8_t(0x40 | ((20 + options) / 4));
            d[at + 8] = 64;
            d[at + 9] = protocol;
            std::memcpy(&d[at + 16], &dst, 4);
            for (size_t k = 0; k < options; ++k)
                d[at + 20 + k] = 1; // NOP options
        };
        ipHeader(outerOptions, 1, htonl(0xC6120001));
        d.insert(d.end(), { type, code, 0, 0, 0, 0, 0, 0 });
        ipHeader(quotedOptions, quotedProtocol, quotedDestination);
        const uint16_t port = htons(quotedPort);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&port);
        d.insert(d.end(), { 0x9c, 0x40, p[0], p[1], 0, 10, 0, 0 });
        return d;
    }
};
