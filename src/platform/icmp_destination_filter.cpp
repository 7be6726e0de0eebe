#include "icmp_destination_filter.h"

#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kAccept = 0xffffffff; // the whole datagram
constexpr uint32_t kDrop = 0;

// A word of the address as the filter's word loads read it: in host order.
uint32_t Word(const NetAddress& address, int index)
{
    uint32_t word = 0;
    std::memcpy(&word, address.bytes.data() + 4 * index, 4);
    return ntohl(word);
}

// IPv4: the raw socket's datagram starts at the IP header; the ICMP message follows it
// (X = its length), and the header it quotes starts 8 bytes in, its destination 16 bytes
// further.
std::vector<sock_filter> V4Program(const NetAddress& destination)
{
    return {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_IND, 8 + 16),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Word(destination, 0), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kAccept),
        BPF_STMT(BPF_RET | BPF_K, kDrop),
    };
}

// IPv6: the raw socket's datagram starts at the ICMPv6 header; the quoted IPv6 header
// starts 8 bytes in, its destination 24 bytes further, four words compared in turn.
std::vector<sock_filter> V6Program(const NetAddress& destination)
{
    std::vector<sock_filter> program;
    for (int i = 0; i < 4; ++i) {
        const auto left = uint8_t(2 * (3 - i) + 1); // instructions after this jump up to the drop
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, uint32_t(8 + 24 + 4 * i)));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Word(destination, i), 0, left));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kAccept));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kDrop));
    return program;
}

} // namespace

bool KeepOnlyAnswersAbout(int fd, int af, const NetAddress& destination)
{
    std::vector<sock_filter> program { BPF_STMT(BPF_RET | BPF_K, kDrop) };
    if (af == AF_INET && destination.family == NetAddress::V4)
        program = V4Program(destination);
    else if (af == AF_INET6 && destination.family == NetAddress::V6)
        program = V6Program(destination);
    const sock_fprog fprog { static_cast<unsigned short>(program.size()), program.data() };
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) == 0;
}
