#pragma once
#include "net_address.h"

#include <array>
#include <cstdint>

// What the platform read from the network about one of our probes: an ICMP or ICMPv6
// error, who sent it and what it quotes, whether it came off a raw socket or out of a
// probe socket's error queue. The engine decides from these fields alone.
struct IcmpAnswer {
    enum Kind : uint8_t {
        Malformed, // too short, or header lengths that do not fit: dropped unseen
        NotUdp, // quotes something other than a UDP datagram (or is no error at all)
        Probe, // quotes a UDP datagram: the quoted fields below are valid
        SendStamp, // no answer: the kernel's stamp of a probe leaving (`sendIndex`, `leftUs`)
    };
    Kind kind = Malformed;
    NetAddress sender; // the router or host that answered
    uint8_t type = 0;
    uint8_t code = 0;
    NetAddress quotedDestination;
    uint16_t quotedSourcePort = 0; // host byte order
    uint16_t quotedDestinationPort = 0;
    // The rest of what the answer quotes of the probe, where it does: the UDP checksum
    // (every router quotes the 8 UDP header bytes; the error queue gives no header) and
    // the first data bytes (absent from a router that quotes only 28 bytes).
    bool hasQuotedChecksum = false;
    uint16_t quotedChecksum = 0;
    uint8_t quotedDataLength = 0; // bytes valid in quotedData
    std::array<uint8_t, 2> quotedData {};
    // When the kernel received it, in microseconds of CLOCK_MONOTONIC, where it can
    // tell: the time of arrival on the host, free of any wait for the UI thread.
    bool stamped = false;
    int64_t arrivalUs = 0;
    // A SendStamp names its probe by the socket it left from (quotedSourcePort) and how
    // many probes that socket had sent before it; `leftUs` is when it left the host, in
    // microseconds of CLOCK_MONOTONIC.
    uint32_t sendIndex = 0;
    int64_t leftUs = 0;
};
