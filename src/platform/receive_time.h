#pragma once
#include "icmp_socket.h"

#include <sys/socket.h>

// Asks the kernel to stamp every datagram the socket receives (SO_TIMESTAMPNS).
void EnableReceiveTimestamps(int fd);

// Reads the stamp from a received message's control data into origin, as a tick of
// the monotonic tick clock; leaves origin unstamped when there is none.
void ReadReceiveTimestamp(msghdr& msg, IcmpSocket::Origin* origin);

// Control buffer large enough for a stamp beside an extended socket error.
inline constexpr size_t kReceiveControlSize = 512;
