#include "receive_time.h"

#include <cstring>
#include <ctime>

void EnableReceiveTimestamps(int fd)
{
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

namespace {

void ReadReceiveTimestamp(msghdr& msg, IcmpAnswer* answer)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        // The stamp is wall-clock time; the trace runs on the monotonic clock. How long
        // ago it arrived is the same on both.
        timespec real {}, mono {};
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        const int64_t ageNs = (int64_t(real.tv_sec) - stamp.tv_sec) * 1000000000 + (real.tv_nsec - stamp.tv_nsec);
        if (ageNs < 0 || ageNs > int64_t(60) * 1000000000)
            return; // the wall clock was set meanwhile: the handler's own time is better
        const int64_t arrivalNs = int64_t(mono.tv_sec) * 1000000000 + mono.tv_nsec - ageNs;
        answer->stamped = true;
        answer->arrivalUs = arrivalNs / 1000;
        return;
    }
}

} // namespace

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
