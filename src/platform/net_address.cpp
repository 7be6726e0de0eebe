#include "net_address.h"

#include "dotted_quad.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

NetAddress NetAddress::FromV4(uint32_t networkOrder)
{
    NetAddress a;
    a.family = V4;
    std::memcpy(a.bytes.data(), &networkOrder, 4);
    return a;
}

NetAddress NetAddress::FromSockaddr(const sockaddr* sa)
{
    NetAddress a;
    if (sa && sa->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, sa, sizeof in);
        a = FromV4(in.sin_addr.s_addr);
    } else if (sa && sa->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, sa, sizeof in6);
        a.family = V6;
        std::memcpy(a.bytes.data(), &in6.sin6_addr, 16);
        a.scope = in6.sin6_scope_id;
    }
    return a;
}

NetAddress NetAddress::Parse(const std::string& text)
{
    NetAddress a;
    if (text.find('\0') != std::string::npos)
        return a;
    if (inet_pton(AF_INET, text.c_str(), a.bytes.data()) == 1) {
        a.family = V4;
        return a;
    }
    const size_t percent = text.find('%');
    const std::string bare = text.substr(0, percent);
    if (inet_pton(AF_INET6, bare.c_str(), a.bytes.data()) != 1)
        return {};
    a.family = V6;
    if (percent != std::string::npos) {
        const std::string zone = text.substr(percent + 1);
        a.scope = if_nametoindex(zone.c_str());
        if (a.scope == 0) {
            // A numeric zone is an interface index as it is.
            char* end = nullptr;
            const unsigned long index = std::strtoul(zone.c_str(), &end, 10);
            if (zone.empty() || *end != '\0' || index == 0 || index > 0xffffffffUL)
                return {};
            a.scope = uint32_t(index);
        }
    }
    return a;
}

uint32_t NetAddress::v4() const
{
    uint32_t addr = 0;
    if (family == V4)
        std::memcpy(&addr, bytes.data(), 4);
    return addr;
}

int NetAddress::af() const
{
    return family == V4 ? AF_INET : family == V6 ? AF_INET6 : AF_UNSPEC;
}

std::string NetAddress::ToText() const
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (family == V4)
        return FormatDottedQuad(ntohl(v4()), buf);
    if (family == None || !inet_ntop(af(), bytes.data(), buf, sizeof buf))
        return {};
    return buf;
}

unsigned NetAddress::ToSockaddr(uint16_t port, sockaddr_storage* out) const
{
    std::memset(out, 0, sizeof *out);
    if (family == V4) {
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        std::memcpy(&in->sin_addr, bytes.data(), 4);
        return sizeof *in;
    }
    if (family == V6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        std::memcpy(&in6->sin6_addr, bytes.data(), 16);
        in6->sin6_scope_id = scope;
        return sizeof *in6;
    }
    return 0;
}
