#include "host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

uint32_t HostResolver::InetAddr(const std::string& text)
{
    // "198.18.5.2\0junk" is not an address, though the C string would read as one.
    if (text.find('\0') != std::string::npos)
        return INADDR_NONE;
    return inet_addr(text.c_str());
}

bool HostResolver::GetHostByName(const std::string& name, uint32_t* addr)
{
    // An empty name or one with an embedded NUL would resolve as something else.
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    // getaddrinfo keeps the resolver's order (after RFC 6724 sorting among IPv4 only),
    // so the first entry is the name's first address.
    *addr = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return true;
}
