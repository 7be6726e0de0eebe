#include "receive_time.h"

#include <cstdint>
#include <cstring>
#include <ctime> // linux/errqueue.h uses timespec without including it
#include <fstream>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>

void EnableReceiveTimestamps(int fd)
{
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

bool EnableTransmitTimestamps(int fd, bool roomForStamps)
{
    // OPT_ID numbers the stamps, OPT_TSONLY leaves the packet out of them: a stamp
    // takes little of the queue and no copy of the probe comes back.
    const int flags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_ID
        | SOF_TIMESTAMPING_OPT_TSONLY;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) != 0)
        return false;
    if (roomForStamps) {
        // The kernel doubles the size asked for, up to twice net.core.rmem_max: asking
        // for the default gives twice the default, as many stamps as errors beside them.
        // Where rmem_max is below half the default that would shrink the queue, and no
        // later call could give the default back: then it is left as it is.
        int size = 0;
        socklen_t len = sizeof size;
        long rmemMax = 0;
        std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
        if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &len) == 0 && rmemMax > size / 2)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    return true;
}

namespace {

int64_t Nanoseconds(const timespec& t)
{
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A kernel stamp is wall-clock time; the trace runs on the monotonic clock. The two differ
// by an offset, read here between two monotonic reads: a read pair interrupted (a busy
// machine, a preemption) would shift every stamp it converts, so the closest of a few
// pairs is taken, the wall clock set against their midpoint.
bool MonotonicOfStamp(const timespec& stamp, int64_t* us)
{
    int64_t wallNs = 0, offsetNs = 0, spanNs = INT64_MAX;
    for (int i = 0; i < 4 && spanNs > 2000; ++i) {
        timespec before {}, real {}, after {};
        clock_gettime(CLOCK_MONOTONIC, &before);
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &after);
        const int64_t span = Nanoseconds(after) - Nanoseconds(before);
        if (span < spanNs) {
            spanNs = span;
            wallNs = Nanoseconds(real);
            offsetNs = wallNs - (Nanoseconds(before) + span / 2);
        }
    }
    const int64_t ageNs = wallNs - Nanoseconds(stamp);
    if (ageNs < 0 || ageNs > int64_t(60) * 1000000000)
        return false; // the wall clock was set meanwhile: the handler's own time is better
    *us = (Nanoseconds(stamp) - offsetNs) / 1000;
    return true;
}

void ReadReceiveTimestamp(msghdr& msg, IcmpAnswer* answer)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        answer->stamped = MonotonicOfStamp(stamp, &answer->arrivalUs);
        return;
    }
}

} // namespace

bool ReadTransmitStamp(const msghdr& msg, int64_t* leftUs)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING)
            continue;
        scm_timestamping stamps; // [0]: the software stamp
        std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
        return (stamps.ts[0].tv_sec != 0 || stamps.ts[0].tv_nsec != 0) && MonotonicOfStamp(stamps.ts[0], leftUs);
    }
    return false;
}

ssize_t StampedMessage::Receive(int fd, void* buf, size_t len, int flags, IcmpAnswer* answer)
{
    iovec iov { buf, len };
    msg = {};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &msg, flags | MSG_DONTWAIT);
    if (n >= 0)
        ReadReceiveTimestamp(msg, answer);
    msg.msg_iov = nullptr; // iov lives only for this call
    msg.msg_iovlen = 0;
    return n;
}
