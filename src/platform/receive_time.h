#pragma once
#include "icmp_answer.h"

#include <sys/socket.h>

// Asks the kernel to stamp every datagram the socket receives (SO_TIMESTAMPNS).
void EnableReceiveTimestamps(int fd);

// Asks the kernel to stamp every datagram the socket sends as it leaves the host
// (SO_TIMESTAMPING, software stamps). Each stamp is queued alone on the socket's error
// queue, numbered by the sends before it on this socket, from 0. With `roomForStamps`
// the socket's queue is made twice its default size where the system allows, so that a
// round's stamps do not take the room its ICMP errors need. False when the kernel
// gives no transmit stamps.
bool EnableTransmitTimestamps(int fd, bool roomForStamps);

// The transmit stamp a message from an error queue carries, as a time of the
// monotonic clock. False when it carries none usable.
bool ReadTransmitStamp(const msghdr& msg, int64_t* leftUs);

// One recvmsg() with room for the sender's address and the control data that comes
// with it: the receive stamp and, from an error queue, the extended socket error.
struct StampedMessage {
    sockaddr_storage from {};
    msghdr msg {};
    alignas(cmsghdr) char control[512];

    // Reads one message into buf without blocking; its receive stamp, if any, into
    // answer as a time of the monotonic clock. -1 when nothing could be read.
    ssize_t Receive(int fd, void* buf, size_t len, int flags, IcmpAnswer* answer);
};
