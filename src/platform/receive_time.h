#pragma once
#include "icmp_answer.h"

#include <sys/socket.h>

// Asks the kernel to stamp every datagram the socket receives (SO_TIMESTAMPNS).
void EnableReceiveTimestamps(int fd);

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
