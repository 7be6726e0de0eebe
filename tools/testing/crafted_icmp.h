#pragma once
// Builds the messages the raw sockets deliver. IPv4: IPv4 header, ICMP header, the
// quoted IPv4 header and the first 8 bytes of the quoted UDP probe. IPv6: from the
// ICMPv6 header on, then the quoted IPv6 header and UDP header, and as much of the
// probe's data as the answer is to quote.
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <vector>

struct CraftedIcmp {
    bool v6 = false;
    uint8_t type = 11;
    uint8_t code = 0;
    uint8_t quotedProtocol = 17;
    uint32_t quotedDestination = 0; // IPv4, network byte order
    uint8_t quotedDestination6[16] = {}; // IPv6
    uint16_t quotedSourcePort = 40001; // host byte order: the first round's
    uint16_t quotedPort = 65535; // the quoted destination port
    uint16_t quotedChecksum = 0;
    std::vector<uint8_t> quotedData; // the probe's data bytes the answer quotes
    size_t probeData = 2; // the probe's data length, as quoted headers say
    size_t outerOptions = 0; // bytes of IP options, a multiple of 4
    size_t quotedOptions = 0;

    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> d;
        auto put16 = [&](uint16_t v) { d.insert(d.end(), { uint8_t(v >> 8), uint8_t(v) }); };
        if (v6) {
            d.insert(d.end(), { type, code, 0, 0, 0, 0, 0, 0 });
            const size_t at = d.size();
            d.resize(at + 40, 0);
            d[at] = 0x60;
            d[at + 4] = 0;
            d[at + 5] = uint8_t(8 + probeData);
            d[at + 6] = quotedProtocol;
            d[at + 7] = 1;
            std::memcpy(&d[at + 24], quotedDestination6, 16);
        } else {
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
            d[d.size() - 20 - quotedOptions + 3] = uint8_t(20 + quotedOptions + 8 + probeData);
        }
        put16(quotedSourcePort);
        put16(quotedPort);
        put16(uint16_t(8 + probeData));
        put16(quotedChecksum);
        d.insert(d.end(), quotedData.begin(), quotedData.end());
        return d;
    }
};
