#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr size_t kIcmpReadBuffer = 1000; // one datagram is read into this much
inline constexpr size_t kIcmpMinLength = 56;    // IPv4 + ICMP + quoted IPv4 + quoted UDP

// What an ICMP error datagram, read with its IPv4 header, says about the probe it quotes.
struct IcmpReply {
    enum Kind {
        Malformed, // too short, or a header length that does not fit: dropped unseen
        NotUdp,    // quotes something other than a UDP datagram: no row changes
        Probe,     // quotes a UDP datagram: the fields below are valid
    };
    Kind kind = Malformed;
    uint8_t type = 0;
    uint8_t code = 0;
    uint32_t quotedDestination = 0; // network byte order, as quoted
    uint8_t quotedPortLowByte = 0;  // low byte of the quoted destination port
};

// Reads both IPv4 header lengths from the datagram, so answers that carry IP options
// are understood; with 20-byte headers the fields sit at the classic fixed offsets.
IcmpReply ParseIcmpReply(const uint8_t* data, size_t len);

// The Result text of an answer with this ICMP type and code.
std::string ClassifyIcmp(uint8_t type, uint8_t code);
