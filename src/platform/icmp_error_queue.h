#pragma once
#include <cstddef>
#include <cstdint>

#include "icmp_socket.h"

// Writes into buf the datagram a raw ICMP socket would deliver for an ICMP error of
// this type and code, sent by `offender`, about a UDP probe to `destination`:`port`:
// a 20-byte IPv4 header, the ICMP header, the quoted 20-byte IPv4 header and the
// first 8 bytes of the quoted UDP header. Addresses in network byte order, the port
// in host byte order. Returns its length, or -1 when buf is too small.
ptrdiff_t BuildIcmpErrorDatagram(uint8_t type, uint8_t code, uint32_t offender, uint32_t destination,
    uint16_t port, uint8_t* buf, size_t len);

// Reads one ICMP error from the error queue of a UDP socket with IP_RECVERR set and
// returns it built as above, with the offender and the kernel's receive time in
// *origin. -1 when the queue is empty or the error did not come from an ICMP message.
ptrdiff_t ReadErrorQueueAsDatagram(int fd, uint8_t* buf, size_t len, IcmpSocket::Origin* origin);
