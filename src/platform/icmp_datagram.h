#pragma once
#include "icmp_answer.h"

#include <cstddef>
#include <cstdint>

inline constexpr size_t kIcmpReadBuffer = 1000; // one datagram is read into this much
inline constexpr size_t kIcmpMinLength = 56; // IPv4 + ICMP + quoted IPv4 + quoted UDP

// Reads an ICMP message as a raw IPv4 socket delivers it, IPv4 header first. Both IPv4
// header lengths are read, so answers that carry IP options are understood; with
// 20-byte headers the fields sit at the classic fixed offsets. Fills kind, type, code
// and the quoted fields; the sender and the stamp come from the receive call.
void ParseIcmpV4Datagram(const uint8_t* data, size_t len, IcmpAnswer* answer);

// Reads an ICMPv6 message as a raw IPv6 socket delivers it: from the ICMPv6 header on,
// no IPv6 header. Only the error types (1 to 4) quote a packet; the quoted IPv6 header
// must be followed directly by UDP.
void ParseIcmpV6Message(const uint8_t* data, size_t len, IcmpAnswer* answer);
