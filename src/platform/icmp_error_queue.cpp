#include "icmp_error_queue.h"

#include "receive_time.h"

#include <algorithm>
#include <cstring>
#include <ctime> // linux/errqueue.h uses timespec without including it
#include <linux/errqueue.h>
#include <netinet/in.h>

bool ReadErrorQueue(int fd, uint16_t localPort, IcmpAnswer* answer)
{
    *answer = {}; // nothing left of an earlier read
    StampedMessage m; // its sender is the probe's original destination
    char data[64];
    const ssize_t n = m.Receive(fd, data, sizeof data, MSG_ERRQUEUE, answer);
    if (n < 0)
        return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m.msg); c; c = CMSG_NXTHDR(&m.msg, c)) {
        const bool v4 = c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR;
        const bool v6 = c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR;
        if (!v4 && !v6)
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        if (ee.ee_origin == SO_EE_ORIGIN_TIMESTAMPING) {
            // One of our probes left: no answer, and nothing it says is a router's.
            answer->stamped = false;
            if (ReadTransmitStamp(m.msg, &answer->leftUs)) {
                answer->kind = IcmpAnswer::SendStamp;
                answer->quotedSourcePort = localPort;
                answer->sendIndex = ee.ee_data;
            }
            return true;
        }
        if (ee.ee_origin != (v4 ? SO_EE_ORIGIN_ICMP : SO_EE_ORIGIN_ICMP6))
            return true; // read, and nothing of ours: Malformed
        // SO_EE_OFFENDER: the socket address that follows the extended error.
        answer->sender = NetAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(CMSG_DATA(c) + sizeof ee));
        answer->type = ee.ee_type;
        answer->code = ee.ee_code;
        const sockaddr* to = reinterpret_cast<const sockaddr*>(&m.from);
        answer->quotedDestination = NetAddress::FromSockaddr(to);
        answer->quotedDestinationPort
            = ntohs(to->sa_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&m.from)->sin6_port
                                              : reinterpret_cast<const sockaddr_in*>(&m.from)->sin_port);
        answer->quotedSourcePort = localPort;
        // What the router quoted past the UDP header; nothing when it quoted 28 bytes.
        answer->quotedDataLength = uint8_t(std::min(size_t(n), answer->quotedData.size()));
        std::memcpy(answer->quotedData.data(), data, answer->quotedDataLength);
        answer->kind = IcmpAnswer::Probe;
        return true;
    }
    return true;
}
