#pragma once
#include <array>
#include <cstdint>
#include <string>

struct sockaddr;
struct sockaddr_storage;

// An IPv4 or IPv6 address, held the same way for both families so that the engine, the
// rows and the reports need one code path. An IPv6 address may carry the scope (the
// interface index) that a link-local address needs to be reachable.
struct NetAddress {
    enum Family : uint8_t { None = 0, V4 = 4, V6 = 6 };
    Family family = None;
    std::array<uint8_t, 16> bytes {}; // network byte order; IPv4 uses the first 4
    uint32_t scope = 0;

    static NetAddress FromV4(uint32_t networkOrder);
    // Reads an AF_INET or AF_INET6 socket address; anything else gives an empty address.
    static NetAddress FromSockaddr(const sockaddr* sa);
    // The numeric text forms only (inet_pton): "198.18.0.1", "2001:db8::1", with an
    // optional "%zone" for IPv6. An empty address when the text is neither.
    static NetAddress Parse(const std::string& text);

    bool valid() const { return family != None; }
    bool isV4() const { return family == V4; }
    uint32_t v4() const; // network byte order; 0 for an IPv6 address
    int af() const; // AF_INET, AF_INET6 or AF_UNSPEC
    // Dotted quad, or the compressed IPv6 form (RFC 5952, as inet_ntop writes it).
    std::string ToText() const;
    // A socket address for this address and port (host byte order); its length.
    unsigned ToSockaddr(uint16_t port, sockaddr_storage* out) const;

    // Scope is not compared: an answer names its sender without the interface.
    bool operator==(const NetAddress& other) const { return family == other.family && bytes == other.bytes; }
    bool operator!=(const NetAddress& other) const { return !(*this == other); }
};
