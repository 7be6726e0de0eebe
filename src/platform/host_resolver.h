#pragma once
#include <cstdint>
#include <string>

// Forward resolution of the target, done anew every round. Blocking by design: a round
// runs to its end before any answer is handled.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    // Classic inet_addr: dotted forms such as "10.1" are valid; INADDR_NONE (0xFFFFFFFF)
    // when the text is not an address. Network byte order.
    virtual uint32_t InetAddr(const std::string& text);
    // First IPv4 address of the name, network byte order; false when it does not resolve.
    virtual bool GetHostByName(const std::string& name, uint32_t* addr);
};
