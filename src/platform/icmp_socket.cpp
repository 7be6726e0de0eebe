#include "icmp_socket.h"

#include "icmp_datagram.h"
#include "icmp_destination_filter.h"
#include "icmp_error_queue.h"
#include "receive_time.h"

#include <cerrno>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
// Whether an ordinary UDP socket of this family may ask for its ICMP errors.
bool ErrorQueueWorks(int af)
{
    const int probe = socket(af, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (probe < 0)
        return false;
    const int on = 1;
    const bool ok = af == AF_INET ? setsockopt(probe, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0
                                  : setsockopt(probe, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) == 0;
    close(probe);
    return ok;
}

int OpenRawIcmpV6()
{
    const int fd = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (fd < 0)
        return -1;
    // Only the errors that quote a probe; echo traffic and neighbour discovery stay out.
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (int type : { ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB })
        ICMP6_FILTER_SETPASS(type, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    return fd;
}
} // namespace

SystemIcmpSocket::~SystemIcmpSocket()
{
    CloseProbeSockets();
    for (WatchedFd& raw : m_raw) {
        raw.notifier.reset();
        close(raw.fd);
    }
}

SystemIcmpSocket::WatchedFd SystemIcmpSocket::Watched(int fd, uint16_t localPort)
{
    WatchedFd w { fd, localPort, std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read) };
    // A queued error makes a probe socket readable (POLLERR), which a read notifier reports.
    connect(w.notifier.get(), &QSocketNotifier::activated, this, &IcmpSocket::readReady);
    w.notifier->setEnabled(m_notify);
    return w;
}

bool SystemIcmpSocket::Create()
{
    m_fd4 = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    m_lastError = m_fd4 < 0 ? errno : 0;
    if (m_fd4 >= 0) {
        EnableReceiveTimestamps(m_fd4);
        m_raw.push_back(Watched(m_fd4, 0));
        // With the privilege for one raw socket the other opens too, unless this host
        // has no IPv6; then IPv6 answers come through the probe sockets if at all.
        const int fd6 = OpenRawIcmpV6();
        if (fd6 >= 0) {
            EnableReceiveTimestamps(fd6);
            m_raw.push_back(Watched(fd6, 0));
        } else {
            m_errorQueue6 = ErrorQueueWorks(AF_INET6);
        }
        return true;
    }
    if (m_lastError != EPERM && m_lastError != EACCES)
        return false;
    // No privilege for a raw socket: the probe sockets' error queues will do, as long
    // as this kernel lets an ordinary UDP socket ask for them.
    m_errorQueue4 = ErrorQueueWorks(AF_INET);
    m_errorQueue6 = ErrorQueueWorks(AF_INET6);
    return m_errorQueue4;
}

void SystemIcmpSocket::OnlyAbout(const NetAddress& destination)
{
    // The raw sockets are m_fd4 and, if it opened, the ICMPv6 one; the probe sockets'
    // error queues hold only their own probes' answers already.
    for (const WatchedFd& raw : m_raw)
        KeepOnlyAnswersAbout(raw.fd, raw.fd == m_fd4 ? AF_INET : AF_INET6, destination);
}

bool SystemIcmpSocket::SetTimeout(int option, int ms)
{
    if (m_fd4 < 0)
        return m_errorQueue4; // the probe sockets are never read blocking
    // The time-outs are a millisecond count elsewhere; Linux wants a timeval. A negative
    // count, which a 32-bit unsigned option would read as about 49 days, means no limit.
    timeval tv {};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    if (setsockopt(m_fd4, SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

bool SystemIcmpSocket::SetSendTimeout(int ms)
{
    return SetTimeout(SO_SNDTIMEO, ms);
}

bool SystemIcmpSocket::SetReceiveTimeout(int ms)
{
    return SetTimeout(SO_RCVTIMEO, ms);
}

bool SystemIcmpSocket::Bind()
{
    if (m_fd4 < 0)
        return m_errorQueue4;
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_fd4, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

void SystemIcmpSocket::SetNotify(bool on)
{
    m_notify = on;
    for (WatchedFd& raw : m_raw)
        raw.notifier->setEnabled(on);
    // Switching off ends the trace: the answers of its probe sockets no longer count.
    if (!on)
        CloseProbeSockets();
}

bool SystemIcmpSocket::WantsProbeErrors(int af) const
{
    return af == AF_INET6 ? m_errorQueue6 : m_errorQueue4;
}

void SystemIcmpSocket::Keep(std::vector<WatchedFd>& sockets, WatchedFd&& socket)
{
    if (sockets.size() >= kMaxProbeSockets) {
        sockets.front().notifier.reset();
        close(sockets.front().fd);
        sockets.erase(sockets.begin());
    }
    sockets.push_back(std::move(socket));
}

void SystemIcmpSocket::AdoptProbeSocket(int fd, uint16_t localPort)
{
    Keep(m_probes, Watched(fd, localPort));
}

void SystemIcmpSocket::HoldProbeSocket(int fd, uint16_t localPort)
{
    Keep(m_held, { fd, localPort, nullptr });
}

void SystemIcmpSocket::ReleaseProbeSocket(uint16_t localPort)
{
    for (std::vector<WatchedFd>* sockets : { &m_probes, &m_held }) {
        for (auto it = sockets->begin(); it != sockets->end(); ++it) {
            if (it->localPort == localPort) {
                it->notifier.reset();
                close(it->fd);
                sockets->erase(it);
                return;
            }
        }
    }
}

void SystemIcmpSocket::CloseProbeSockets()
{
    m_pending.clear();
    for (std::vector<WatchedFd>* sockets : { &m_probes, &m_held }) {
        for (WatchedFd& probe : *sockets) {
            probe.notifier.reset();
            close(probe.fd);
        }
        sockets->clear();
    }
}

bool SystemIcmpSocket::ReceiveRaw(const WatchedFd& raw, IcmpAnswer* answer)
{
    uint8_t buf[kIcmpReadBuffer];
    StampedMessage m;
    const ssize_t n = m.Receive(raw.fd, buf, sizeof buf, 0, answer);
    if (n < 0)
        return false;
    answer->sender = NetAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(&m.from));
    if (answer->sender.isV4())
        ParseIcmpV4Datagram(buf, size_t(n), answer);
    else
        ParseIcmpV6Message(buf, size_t(n), answer);
    return true;
}

void SystemIcmpSocket::TakeHeldStamps(const IcmpAnswer& answer)
{
    // The stamps of a held socket's probes wait in its error queue; the stamp of the
    // probe answered was queued before the probe even reached the wire, so it is there
    // now and goes to the engine before the answer.
    if (answer.kind != IcmpAnswer::Probe)
        return;
    for (const WatchedFd& held : m_held) {
        if (held.localPort != answer.quotedSourcePort)
            continue;
        IcmpAnswer stamp;
        while (ReadErrorQueue(held.fd, held.localPort, &stamp)) {
            if (stamp.kind == IcmpAnswer::SendStamp)
                m_pending.push_back(stamp);
        }
        return;
    }
}

bool SystemIcmpSocket::TakePending(IcmpAnswer* answer)
{
    if (m_pending.empty())
        return false;
    *answer = m_pending.front();
    m_pending.pop_front();
    // No socket says these are waiting: one notification for each, as if queued there.
    if (!m_pending.empty() && m_notify)
        QMetaObject::invokeMethod(this, &IcmpSocket::readReady, Qt::QueuedConnection);
    return true;
}

bool SystemIcmpSocket::Receive(IcmpAnswer* answer)
{
    if (TakePending(answer))
        return true;
    for (const WatchedFd& raw : m_raw) {
        if (!ReceiveRaw(raw, answer))
            continue;
        TakeHeldStamps(*answer);
        if (!m_pending.empty()) {
            m_pending.push_back(*answer);
            TakePending(answer);
        }
        return true;
    }
    for (const WatchedFd& probe : m_probes) {
        if (ReadErrorQueue(probe.fd, probe.localPort, answer))
            return true;
        // Something answered a probe with data; drop it so the socket stops reporting.
        char discard[64];
        while (recv(probe.fd, discard, sizeof discard, MSG_DONTWAIT) >= 0) { }
    }
    return false;
}
