#include "host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

NetAddress HostResolver::ParseAddress(const std::string& text)
{
    // "198.18.5.2\0junk" is no address, though the C string would read as one.
    if (text.find('\0') != std::string::npos)
        return {};
    const in_addr_t v4 = inet_addr(text.c_str());
    if (v4 != INADDR_NONE)
        return NetAddress::FromV4(v4);
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        return NetAddress::Parse(text.substr(1, text.size() - 2));
    const NetAddress a = NetAddress::Parse(text);
    return a.family == NetAddress::V6 ? a : NetAddress {};
}

namespace {

NetAddress LookUp(const std::string& name, int af)
{
    // An empty name or one with an embedded NUL would resolve as something else.
    if (name.empty() || name.find('\0') != std::string::npos)
        return {};
    addrinfo hints {};
    hints.ai_family = af;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return {};
    // getaddrinfo returns the addresses in the system's order of preference (RFC 6724,
    // /etc/gai.conf): the first is the one a connection would use.
    const NetAddress first = NetAddress::FromSockaddr(list->ai_addr);
    freeaddrinfo(list);
    return first;
}

} // namespace

void SystemHostResolver::Resolve(int id, const std::string& name, int af)
{
    const bool started = m_calls.Run(
        [name, af] { return LookUp(name, af); }, [this, id](const NetAddress& address) { emit resolved(id, address); });
    if (!started)
        QMetaObject::invokeMethod(
            this, [this, id] { emit resolved(id, {}); }, Qt::QueuedConnection);
}
