#include "icmp_error_queue.h"

#include "receive_time.h"

#include <cstring>
#include <ctime> // linux/errqueue.h uses timespec without including it
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
constexpr size_t kDatagramLength = 20 + 8 + 20 + 8;
}

ptrdiff_t BuildIcmpErrorDatagram(uint8_t type, uint8_t code, uint32_t offender, uint32_t destination,
    uint16_t port, uint8_t* buf, size_t len)
{
    if (len < kDatagramLength)
        return -1;
    std::memset(buf, 0, kDatagramLength);
    uint8_t* ip = buf;
    ip[0] = 0x45;
    ip[3] = uint8_t(kDatagramLength);
    ip[8] = 64;
    ip[9] = IPPROTO_ICMP;
    std::memcpy(ip + 12, &offender, 4);
    uint8_t* icmp = buf + 20;
    icmp[0] = type;
    icmp[1] = code;
    uint8_t* quoted = icmp + 8;
    quoted[0] = 0x45;
    quoted[3] = 20 + 10;
    quoted[9] = IPPROTO_UDP;
    std::memcpy(quoted + 16, &destination, 4);
    uint8_t* udp = quoted + 20;
    udp[2] = uint8_t(port >> 8);
    udp[3] = uint8_t(port);
    udp[5] = 10;
    return ptrdiff_t(kDatagramLength);
}

ptrdiff_t ReadErrorQueueAsDatagram(int fd, uint8_t* buf, size_t len, IcmpSocket::Origin* origin)
{
    StampedMessage m; // its sender is the probe's original destination
    char data[64];
    if (m.Receive(fd, data, sizeof data, MSG_ERRQUEUE, origin) < 0)
        return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m.msg); c; c = CMSG_NXTHDR(&m.msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        if (ee.ee_origin != SO_EE_ORIGIN_ICMP)
            return -1;
        sockaddr_in offender;
        std::memcpy(&offender, CMSG_DATA(c) + sizeof ee, sizeof offender);
        origin->sender = offender.sin_addr.s_addr;
        return BuildIcmpErrorDatagram(ee.ee_type, ee.ee_code, offender.sin_addr.s_addr,
            m.from.sin_addr.s_addr, ntohs(m.from.sin_port), buf, len);
    }
    return -1;
}
