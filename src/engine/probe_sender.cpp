#include "probe_sender.h"

#include <cerrno>
#include <sched.h>
#include <sys/socket.h>

namespace {
// Running out of buffers or descriptors is usually brief; past this many tries the
// round is skipped like any other creation failure instead of freezing the window.
constexpr int kSocketRetries = 100;
// A socket given a port still taken is opened again; the system picks ports at random,
// so a few tries find a new one unless nearly all are taken, and then the round is
// skipped.
constexpr int kPortRetries = 16;

// A send that failed for want of buffers goes again next round; any other failure (no
// route, a rule forbidding it, an address the system cannot send from) fails every
// probe alike. ECONNREFUSED only ever echoes an answer that arrived (the target's
// "port unreachable" as the socket's pending error).
bool TransientSendError(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM || error == EINTR
        || error == ECONNREFUSED;
}
} // namespace

ProbeOpen OpenProbeSocket(
    ProbeSocket& sock, const NetAddress& target, bool flow, const std::function<bool(uint16_t)>& portTaken)
{
    int reopened = 0;
    for (int attempt = 0;; ++attempt) {
        const int error = flow ? sock.OpenFlow(target) : sock.Open(target.af());
        if (error == 0 && !portTaken(sock.LocalPort()))
            return { ProbeOpen::Opened, 0 };
        if (error == 0) {
            if (++reopened > kPortRetries) {
                sock.Close();
                return { ProbeOpen::Skipped, 0 };
            }
            continue;
        }
        if (error != ENOBUFS && error != EMFILE && error != ENFILE)
            return { ProbeOpen::Failed, error };
        if (attempt >= kSocketRetries)
            return { ProbeOpen::Skipped, error };
        sched_yield();
    }
}

ProbeSend SendProbe(
    ProbeSocket& sock, TickClock& clock, const NetAddress& to, int ttl, uint16_t port, const uint8_t* data, size_t len)
{
    sock.SetTtl(ttl);
    sched_yield();
    const int64_t sentUs = clock.MonotonicMicros();
    const int error = sock.SendTo(to, port, data, len);
    sched_yield();
    if (error == 0)
        return { ProbeSend::Sent, 0, sentUs };
    return { TransientSendError(error) ? ProbeSend::Dropped : ProbeSend::Failed, error, sentUs };
}
