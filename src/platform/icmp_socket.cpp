#include "icmp_socket.h"

#include "icmp_error_queue.h"
#include "receive_time.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
// Sockets of rounds whose answers may still come. Beyond this many the oldest goes:
// its answers would be timed against probes sent long ago anyway.
constexpr size_t kMaxProbeSockets = 64;
}

SystemIcmpSocket::~SystemIcmpSocket()
{
    m_notifier.reset();
    CloseProbeSockets();
    if (m_fd >= 0)
        close(m_fd);
}

bool SystemIcmpSocket::Create()
{
    m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        EnableReceiveTimestamps(m_fd);
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &IcmpSocket::readReady);
        return true;
    }
    m_lastError = errno;
    if (m_lastError != EPERM && m_lastError != EACCES)
        return false;
    // No privilege for a raw socket: the probe sockets' error queues will do, as long
    // as this kernel lets an ordinary UDP socket ask for them.
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    const int on = 1;
    m_errorQueue = probe >= 0 && setsockopt(probe, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
    if (probe >= 0)
        close(probe);
    return m_errorQueue;
}

bool SystemIcmpSocket::SetTimeout(int option, int ms)
{
    if (m_fd < 0)
        return m_errorQueue; // the probe sockets are never read blocking
    // The time-outs are a millisecond count elsewhere; Linux wants a timeval. A negative
    // count, which a 32-bit unsigned option would read as about 49 days, means no limit.
    timeval tv {};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    if (setsockopt(m_fd, SOL_SOCKET, option, &tv, sizeof tv) != 0) {
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
    if (m_fd < 0)
        return m_errorQueue;
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

void SystemIcmpSocket::SetNotify(bool on)
{
    m_notify = on;
    if (m_notifier)
        m_notifier->setEnabled(on);
    // Switching off ends the trace: the answers of its probe sockets no longer count.
    if (!on)
        CloseProbeSockets();
}

void SystemIcmpSocket::AdoptProbeSocket(int fd)
{
    if (m_probes.size() >= kMaxProbeSockets) {
        close(m_probes.front().fd);
        m_probes.erase(m_probes.begin());
    }
    ProbeFd probe { fd, std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read) };
    // A queued error makes the socket readable (POLLERR), which a read notifier reports.
    connect(probe.notifier.get(), &QSocketNotifier::activated, this, &IcmpSocket::readReady);
    probe.notifier->setEnabled(m_notify);
    m_probes.push_back(std::move(probe));
}

void SystemIcmpSocket::CloseProbeSockets()
{
    for (ProbeFd& probe : m_probes) {
        probe.notifier.reset();
        close(probe.fd);
    }
    m_probes.clear();
}

ptrdiff_t SystemIcmpSocket::Receive(uint8_t* buf, size_t len, Origin* origin)
{
    if (m_fd >= 0) {
        StampedMessage m;
        const ssize_t n = m.Receive(m_fd, buf, len, 0, origin);
        if (n < 0)
            return -1;
        origin->sender = m.from.sin_addr.s_addr;
        return n;
    }
    for (const ProbeFd& probe : m_probes) {
        const ptrdiff_t n = ReadErrorQueueAsDatagram(probe.fd, buf, len, origin);
        if (n >= 0)
            return n;
        // Something answered a probe with data; drop it so the socket stops reporting.
        char discard[64];
        while (recv(probe.fd, discard, sizeof discard, MSG_DONTWAIT) >= 0) {
        }
    }
    return -1;
}
