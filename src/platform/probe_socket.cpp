#include "probe_socket.h"

#include "icmp_socket.h"
#include "receive_time.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

UdpProbeSocket::UdpProbeSocket(ProbeErrorSink* sink)
    : m_sink(sink)
{
}

UdpProbeSocket::~UdpProbeSocket()
{
    Close();
}

bool UdpProbeSocket::HandsOverErrors() const
{
    return m_sink && m_sink->WantsProbeErrors(m_af);
}

bool UdpProbeSocket::KeepsStamps() const
{
    return m_sink && m_sink->KeepsProbeSockets();
}

int UdpProbeSocket::Open(int af)
{
    return OpenBound(af, {});
}

int UdpProbeSocket::OpenFlow(const NetAddress& target)
{
    // The source address the kernel would pick, from a connected socket: connecting
    // the probe socket itself would also tie an IPv6 flow label to it.
    Close();
    const int route = socket(target.af(), SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (route < 0)
        return errno;
    sockaddr_storage sa;
    socklen_t len = target.ToSockaddr(9, &sa); // any port: connecting sends nothing
    const bool routed = connect(route, reinterpret_cast<const sockaddr*>(&sa), len) == 0;
    len = sizeof sa;
    if (!routed || getsockname(route, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        const int error = errno;
        close(route);
        return error;
    }
    close(route);
    const int error = OpenBound(target.af(), NetAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(&sa)));
    if (error == 0 && HandsOverErrors()) {
        m_sink->AdoptProbeSocket(m_fd, m_port); // answers come while it still sends
        m_bShared = true;
    } else if (error == 0 && KeepsStamps()) {
        m_sink->HoldProbeSocket(m_fd, m_port); // its transmit stamps are read while it sends
        m_bShared = true;
    }
    return error;
}

int UdpProbeSocket::OpenBound(int af, const NetAddress& local)
{
    Close();
    m_af = af;
    m_fd = socket(af, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0)
        return errno;
    if (HandsOverErrors()) {
        const int on = 1;
        if (af == AF_INET6)
            setsockopt(m_fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
        else
            setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        EnableReceiveTimestamps(m_fd);
    }
    // Stamps only where they are read: with the errors, or by the sink that holds the
    // socket. The errors need the room they always had beside them.
    if (HandsOverErrors() || KeepsStamps())
        EnableTransmitTimestamps(m_fd, HandsOverErrors());
    // Bound now, so the round knows its port before the first answer can come back.
    sockaddr_storage any {};
    any.ss_family = sa_family_t(af);
    socklen_t len = af == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (local.valid())
        len = local.ToSockaddr(0, &any);
    if (bind(m_fd, reinterpret_cast<const sockaddr*>(&any), len) != 0
        || getsockname(m_fd, reinterpret_cast<sockaddr*>(&any), &len) != 0) {
        const int error = errno;
        close(m_fd);
        m_fd = -1;
        return error;
    }
    m_local = local;
    m_port = ntohs(af == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&any)->sin6_port
                                  : reinterpret_cast<const sockaddr_in*>(&any)->sin_port);
    return 0;
}

bool UdpProbeSocket::SetTtl(int ttl)
{
    if (m_af == AF_INET6)
        return setsockopt(m_fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl) == 0;
    return setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0;
}

int UdpProbeSocket::SendTo(const NetAddress& to, uint16_t port, const void* data, size_t len)
{
    sockaddr_storage sa;
    const socklen_t salen = to.ToSockaddr(port, &sa);
    // Never block the UI thread on a full send buffer: a lost probe is re-sent next round.
    auto send = [&] {
        const ssize_t sent = sendto(m_fd, data, len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&sa), salen);
        return sent == ssize_t(len) ? 0 : sent < 0 ? errno : EMSGSIZE;
    };
    int error = send();
    // With IP_RECVERR every ICMP error that arrives also becomes the socket's pending
    // error, and the next send fails with it instead of sending. That failure clears
    // it; the probe itself is still to go. Another answer may arrive before the second
    // send, so one more try tells a pending error from a failure of the send itself
    // (no route, a rule that forbids it), which fails every time.
    for (int tries = 1;
         tries < 3 && error != 0 && error != EAGAIN && error != ENOBUFS && error != EINVAL && error != EAFNOSUPPORT;
         ++tries)
        error = send();
    return error;
}

void UdpProbeSocket::Close()
{
    if (m_fd < 0)
        return;
    if (m_bShared)
        m_bShared = false; // the sink has it already
    else if (HandsOverErrors())
        m_sink->AdoptProbeSocket(m_fd, m_port); // its answers are still on their way
    else if (m_sink && m_sink->KeepsProbeSockets())
        m_sink->HoldProbeSocket(m_fd, m_port); // the raw socket reads its answers
    else
        close(m_fd);
    m_fd = -1;
}
