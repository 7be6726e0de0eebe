#include "icmp_socket.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

RawIcmpSocket::~RawIcmpSocket()
{
    m_notifier.reset();
    if (m_fd >= 0)
        close(m_fd);
}

bool RawIcmpSocket::Create()
{
    m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        m_lastError = errno;
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    m_notifier->setEnabled(false);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &IcmpSocket::readReady);
    return true;
}

bool RawIcmpSocket::SetTimeout(int option, int ms)
{
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

bool RawIcmpSocket::SetSendTimeout(int ms)
{
    return SetTimeout(SO_SNDTIMEO, ms);
}

bool RawIcmpSocket::SetReceiveTimeout(int ms)
{
    return SetTimeout(SO_RCVTIMEO, ms);
}

bool RawIcmpSocket::Bind()
{
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

void RawIcmpSocket::SetNotify(bool on)
{
    if (m_notifier)
        m_notifier->setEnabled(on);
}

ptrdiff_t RawIcmpSocket::Receive(uint8_t* buf, size_t len, uint32_t* sender)
{
    if (m_fd < 0)
        return -1;
    sockaddr_in from {};
    socklen_t fromLen = sizeof from;
    const ssize_t n = recvfrom(m_fd, buf, len, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0)
        return -1;
    *sender = from.sin_addr.s_addr;
    return n;
}
