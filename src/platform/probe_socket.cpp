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

int UdpProbeSocket::Open()
{
    Close();
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0)
        return errno;
    if (m_sink && m_sink->WantsProbeErrors()) {
        const int on = 1;
        setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        EnableReceiveTimestamps(m_fd);
    }
    return 0;
}

bool UdpProbeSocket::SetTtl(int ttl)
{
    return setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0;
}

bool UdpProbeSocket::SendTo(uint32_t addr, uint16_t port, const void* data, size_t len)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = addr;
    // Never block the UI thread on a full send buffer: a lost probe is re-sent next round.
    return sendto(m_fd, data, len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to)
        == ssize_t(len);
}

void UdpProbeSocket::Close()
{
    if (m_fd < 0)
        return;
    if (m_sink && m_sink->WantsProbeErrors())
        m_sink->AdoptProbeSocket(m_fd); // its answers are still on their way
    else
        close(m_fd);
    m_fd = -1;
}
