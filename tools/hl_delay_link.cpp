// hl_delay_link: the slow wire of the path emulator.
//
// The test kernels have no netem, so a link with latency is made in user space:
// in a namespace of its own, two interfaces (A and B, each one end of a veth pair
// whose other end sits in a router) are joined by this forwarder. Every frame read
// on one side is held for the link's one-way delay (plus jitter, if any), may be
// dropped at the link's loss rate, and is then written unchanged to the other side.
// The namespace itself has no addresses and no forwarding, so the kernel there
// never touches the frames: this program is the only way across.
//
//   hl_delay_link [options] --link NETNS:IFA:IFB:DELAY_MS[:JITTER_MS[:LOSS]] ...
//
// --late-icmp NETNS:ADDRESS:MS holds the ICMP (or ICMPv6) that ADDRESS sends
// across the link in NETNS for MS more: a router whose answers leave late while
// the packets it forwards do not.
//
// One process serves any number of links (one per --link), on one timer: a probe
// crossing twelve links wakes one process twelve times instead of twelve
// processes once each, which matters on a two-core machine that also runs the
// tracer being measured.
//
// Timing. A frame is due at its kernel receive stamp plus its delay, so the time
// this process takes to wake up is not added to the delay. Held frames sit in one
// binary heap ordered by due time and arrival order; a timerfd (absolute,
// CLOCK_MONOTONIC, timer slack 1 ns) wakes the loop 300 us before the earliest
// due time, and the rest is waited busily at real-time priority, as a timer
// alone wakes ~100 us late here and a path would add that at every link. With a
// fixed delay every direction of every link stays first in, first out; with
// jitter frames may overtake each other, as on a real path.
//
// Checksums. Frames built by the routers' kernels may carry a checksum still to
// be filled in by the "hardware" (veth offload). PACKET_VNET_HDR hands that
// state over with each frame and gives it back on sending, so the far side
// receives exactly what it would have received straight over the veth pair.
//
// It stops by itself: on SIGTERM/SIGINT/SIGHUP, when an interface it serves is
// removed (its namespaces were deleted), when the --owner process ends, and
// after --max-seconds in any case.
//
// On start-up it prints "ready" on stdout once every socket is bound, then closes
// stdout. --stats FILE gets per-link counters as JSON at exit and on SIGUSR1.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <queue>
#include <sched.h>
#include <string>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSec = 1000000000;
// Room for the largest frame a veth can hand over (with GSO) plus its header.
constexpr size_t kFrameBuffer = 65536 + 1024;
// Frames drained from one socket per wake-up before the others get their turn.
constexpr int kDrainLimit = 4096;
constexpr int kSocketBuffer = 8 << 20;
// Frames held at once, per direction of a link; more are dropped (counted).
constexpr uint64_t kQueueLimit = 100000;
// struct virtio_net_hdr, before every frame (PACKET_VNET_HDR); its header names
// C++ keywords, so only its size is taken.
constexpr size_t kVnetHeader = 10;
// The timer fires this early; the rest of the wait is spent busily.
constexpr int64_t kSpinNs = 300000;

int64_t Now(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * kNsPerSec + ts.tv_nsec;
}

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "hl_delay_link: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

[[noreturn]] void Usage(const char* problem)
{
    if (problem)
        std::fprintf(stderr, "hl_delay_link: %s\n", problem);
    std::fputs("usage: hl_delay_link [--seed N] [--max-seconds S] [--owner PID] [--stats FILE]\n"
               "                     --link NETNS:IFA:IFB:DELAY_MS[:JITTER_MS[:LOSS]] ...\n"
               "                     [--late-icmp NETNS:ADDRESS:MS ...]\n"
               "  NETNS is a name under /run/netns, a path, or - for this namespace.\n"
               "  DELAY_MS one way, each direction; JITTER_MS spreads it evenly over\n"
               "  [DELAY-JITTER, DELAY+JITTER]; LOSS is the fraction of frames dropped (0..1).\n"
               "  --late-icmp: ICMP sent by ADDRESS over the link in NETNS waits MS more.\n"
               "  Ends on SIGTERM, when --owner ends, when a link's interface goes, after S seconds.\n",
        stderr);
    std::exit(2);
}

// splitmix64: small, seedable, and good enough to draw jitter and losses.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); } // [0, 1)
};

struct Direction {
    // Counters of one direction of one link.
    uint64_t received = 0;
    uint64_t forwarded = 0;
    uint64_t lost = 0; // dropped on purpose, at the link's loss rate
    uint64_t overflowed = 0; // dropped because --queue-limit frames were already held
    uint64_t sendErrors = 0;
    uint64_t held = 0;
    uint64_t lateIcmp = 0; // held longer by --late-icmp
    // How late frames left against their due time: what the emulation adds on top
    // of the delay it was asked for.
    int64_t lateSumNs = 0;
    int64_t lateMaxNs = 0;
};

// ICMP from one address, held longer (--late-icmp).
struct LateIcmp {
    int family = AF_INET;
    uint8_t address[16] {};
    int64_t extraNs = 0;
};

struct Link {
    std::string netns;
    std::string ifName[2];
    int ifIndex[2] = { 0, 0 };
    int fd[2] = { -1, -1 };
    int64_t delayNs = 0;
    int64_t jitterNs = 0;
    double loss = 0.0;
    std::vector<LateIcmp> lateIcmp;
    Direction dir[2]; // dir[0]: read on A, written to B; dir[1]: B to A
};

struct Held {
    int64_t due;
    uint64_t seq;
    uint32_t link;
    uint8_t direction;
    std::vector<uint8_t> bytes; // virtio-net header and frame, as read

    bool operator>(const Held& o) const { return due != o.due ? due > o.due : seq > o.seq; }
};

struct Options {
    std::vector<Link> links;
    uint64_t seed = 0;
    bool seeded = false;
    double maxSeconds = 3600.0;
    long owner = 0;
    std::string statsFile;
};

double ParseNumber(const std::string& text, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < 0)
        Usage((std::string("bad ") + what + ": '" + text + "'").c_str());
    return v;
}

std::vector<std::string> SplitColons(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

Link ParseLink(const std::string& linkArg)
{
    const std::vector<std::string> parts = SplitColons(linkArg);
    if (parts.size() < 4 || parts.size() > 6)
        Usage(("bad --link '" + linkArg + "'").c_str());
    Link link;
    link.netns = parts[0];
    link.ifName[0] = parts[1];
    link.ifName[1] = parts[2];
    if (link.ifName[0].empty() || link.ifName[1].empty() || link.ifName[0].size() >= IFNAMSIZ
        || link.ifName[1].size() >= IFNAMSIZ || link.ifName[0] == link.ifName[1])
        Usage(("bad interface names in --link '" + linkArg + "'").c_str());
    link.delayNs = std::llround(ParseNumber(parts[3], "delay") * double(kNsPerMs));
    if (parts.size() > 4)
        link.jitterNs = std::llround(ParseNumber(parts[4], "jitter") * double(kNsPerMs));
    if (parts.size() > 5) {
        link.loss = ParseNumber(parts[5], "loss");
        if (link.loss > 1.0)
            Usage("loss is a fraction between 0 and 1");
    }
    return link;
}

// NETNS:ADDRESS:MS, the address IPv4 or IPv6 (whose own colons stay in it).
void ParseLateIcmp(const std::string& arg, std::vector<Link>& links)
{
    const size_t first = arg.find(':');
    const size_t last = arg.rfind(':');
    if (first == std::string::npos || first == last)
        Usage(("bad --late-icmp '" + arg + "'").c_str());
    const std::string netns = arg.substr(0, first);
    const std::string address = arg.substr(first + 1, last - first - 1);
    LateIcmp late;
    if (inet_pton(AF_INET, address.c_str(), late.address) == 1)
        late.family = AF_INET;
    else if (inet_pton(AF_INET6, address.c_str(), late.address) == 1)
        late.family = AF_INET6;
    else
        Usage(("bad address in --late-icmp '" + arg + "'").c_str());
    late.extraNs = std::llround(ParseNumber(arg.substr(last + 1), "--late-icmp delay") * double(kNsPerMs));
    for (Link& link : links) {
        if (link.netns == netns) {
            link.lateIcmp.push_back(late);
            return;
        }
    }
    Usage(("--late-icmp names no --link before it: '" + arg + "'").c_str());
}

// The IP source of an ICMP or ICMPv6 frame (after its virtio-net header), or null.
const uint8_t* IcmpSource(const uint8_t* frame, size_t size, int* family)
{
    const size_t ip = kVnetHeader + ETH_HLEN;
    if (size < ip + 20)
        return nullptr;
    const uint16_t type = uint16_t(frame[ip - 2] << 8 | frame[ip - 1]);
    if (type == ETH_P_IP && frame[ip + 9] == IPPROTO_ICMP) {
        *family = AF_INET;
        return frame + ip + 12;
    }
    if (type == ETH_P_IPV6 && size >= ip + 40 && frame[ip + 6] == IPPROTO_ICMPV6) {
        *family = AF_INET6;
        return frame + ip + 8;
    }
    return nullptr;
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage((arg + " needs a value").c_str());
            return argv[++i];
        };
        if (arg == "--link") {
            o.links.push_back(ParseLink(value()));
        } else if (arg == "--late-icmp") {
            ParseLateIcmp(value(), o.links);
        } else if (arg == "--seed") {
            o.seed = std::strtoull(value().c_str(), nullptr, 0);
            o.seeded = true;
        } else if (arg == "--max-seconds") {
            o.maxSeconds = ParseNumber(value(), "--max-seconds");
        } else if (arg == "--owner") {
            o.owner = std::strtol(value().c_str(), nullptr, 10);
        } else if (arg == "--stats") {
            o.statsFile = value();
        } else if (arg == "-h" || arg == "--help") {
            Usage(nullptr);
        } else {
            Usage(("unknown option '" + arg + "'").c_str());
        }
    }
    if (o.links.empty())
        Usage("no --link given");
    if (o.links.size() > 4096)
        Usage("too many links");
    return o;
}

void EnterNamespace(const std::string& netns)
{
    if (netns == "-")
        return;
    const std::string path = netns.find('/') == std::string::npos ? "/run/netns/" + netns : netns;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Die(path.c_str());
    if (setns(fd, CLONE_NEWNET) != 0)
        Die(("setns " + path).c_str());
    close(fd);
}

// The interface still exists (in the socket's own namespace)?
bool InterfaceExists(int fd, int ifIndex)
{
    ifreq req {};
    req.ifr_ifindex = ifIndex;
    return ioctl(fd, SIOCGIFNAME, &req) == 0 || errno != ENODEV;
}

int OpenSide(const std::string& name, int* ifIndex)
{
    // Protocol 0: the socket takes no frames until bound to its interface. Created
    // with ETH_P_ALL it would already listen everywhere, and binding would then
    // wait out an RCU grace period (some 15 ms) to stop that.
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Die("AF_PACKET socket (needs CAP_NET_RAW)");
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0)
        Die(("interface " + name).c_str());
    *ifIndex = int(index);
    const int on = 1;
    if (setsockopt(fd, SOL_PACKET, PACKET_VNET_HDR, &on, sizeof on) != 0)
        Die("PACKET_VNET_HDR");
    // Our own writes to this side must not come back as frames to forward.
    if (setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) != 0)
        Die("PACKET_IGNORE_OUTGOING");
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        Die("SO_TIMESTAMPNS");
    // A tracer sends up to 255 probes at once; the default buffer holds fewer.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kSocketBuffer, sizeof kSocketBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &kSocketBuffer, sizeof kSocketBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    sockaddr_ll addr {};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ALL);
    addr.sll_ifindex = int(index);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        Die(("bind to " + name).c_str());
    // Bound while the interface was down, the socket holds ENETDOWN; it is stale.
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    return fd;
}

class Forwarder {
public:
    explicit Forwarder(Options options)
        : m_o(std::move(options))
    {
        m_random.state = m_o.seeded ? m_o.seed : uint64_t(Now(CLOCK_MONOTONIC)) ^ (uint64_t(getpid()) << 32);
    }

    int Run();

private:
    void Setup();
    void DiscardEarlyFrames();
    void CloseSockets();
    void Drain(uint32_t link, int side, int64_t monoNow, int64_t realNow);
    void SendDue(int64_t now);
    void ArmTimer();
    bool HandleError(uint32_t link, int side);
    void WriteStats() const;

    Options m_o;
    Random m_random {};
    int m_epoll = -1;
    int m_timer = -1;
    int m_signals = -1;
    int m_tick = -1;
    int m_owner = -1;
    int64_t m_armedDue = -1;
    int64_t m_endAt = 0;
    uint64_t m_seq = 0;
    std::priority_queue<Held, std::vector<Held>, std::greater<Held>> m_heap;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(kFrameBuffer);
    const char* m_stopReason = "running";
};

// epoll data: which link and side, or one of the control descriptors.
constexpr uint64_t kTimerTag = UINT64_MAX;
constexpr uint64_t kSignalTag = UINT64_MAX - 1;
constexpr uint64_t kTickTag = UINT64_MAX - 2;
constexpr uint64_t kOwnerTag = UINT64_MAX - 3;

void Forwarder::Setup()
{
    const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home < 0)
        Die("/proc/thread-self/ns/net");
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        Die("epoll_create1");
    for (uint32_t i = 0; i < m_o.links.size(); ++i) {
        Link& link = m_o.links[i];
        EnterNamespace(link.netns);
        for (int side = 0; side < 2; ++side) {
            link.fd[side] = OpenSide(link.ifName[side], &link.ifIndex[side]);
            epoll_event ev {};
            ev.events = EPOLLIN;
            ev.data.u64 = (uint64_t(i) << 1) | uint64_t(side);
            if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, link.fd[side], &ev) != 0)
                Die("epoll_ctl");
        }
        // Back home, so the next relative name is looked up where it was given.
        if (setns(home, CLONE_NEWNET) != 0)
            Die("setns home");
    }
    close(home);

    auto add = [this](int fd, uint64_t tag) {
        epoll_event ev {};
        ev.events = EPOLLIN;
        ev.data.u64 = tag;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
            Die("epoll_ctl");
    };
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timer < 0)
        Die("timerfd_create");
    add(m_timer, kTimerTag);

    sigset_t set;
    sigemptyset(&set);
    for (int s : { SIGTERM, SIGINT, SIGHUP, SIGUSR1 })
        sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    m_signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_signals < 0)
        Die("signalfd");
    add(m_signals, kSignalTag);

    // Once a second: the end of --max-seconds, and whether the interfaces still exist.
    m_tick = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_tick < 0)
        Die("timerfd_create");
    itimerspec every {};
    every.it_value.tv_sec = 1;
    every.it_interval.tv_sec = 1;
    timerfd_settime(m_tick, 0, &every, nullptr);
    add(m_tick, kTickTag);
    m_endAt = Now(CLOCK_MONOTONIC) + int64_t(m_o.maxSeconds * double(kNsPerSec));

    if (m_o.owner > 0) {
        // A pidfd turns readable the moment its process ends.
        m_owner = int(syscall(SYS_pidfd_open, pid_t(m_o.owner), 0));
        if (m_owner < 0)
            Die("pidfd_open of --owner");
        add(m_owner, kOwnerTag);
    }

    // Lateness on top of the emulated delay comes mostly from waking up late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sched_param sp {};
    sp.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0)
        std::fprintf(stderr, "hl_delay_link: warning: no real-time priority (%s); delays may be late under load\n",
            std::strerror(errno));
}

void Forwarder::Drain(uint32_t linkIndex, int side, int64_t monoNow, int64_t realNow)
{
    Link& link = m_o.links[linkIndex];
    Direction& d = link.dir[side];
    for (int n = 0; n < kDrainLimit; ++n) {
        iovec iov { m_buffer.data(), m_buffer.size() };
        alignas(cmsghdr) char control[256];
        msghdr msg {};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(link.fd[side], &msg, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: drained; errors show up as EPOLLERR
        }
        // The kernel stamped the frame on arrival (wall clock); its age is the same
        // on the monotonic clock. A frame that came while this batch was being read is
        // younger than the clocks' reading: its negative age puts it after them, not at
        // them (a burst's later frames would leave early by the time the batch took).
        int64_t arrival = monoNow;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp;
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                const int64_t age = realNow - (int64_t(stamp.tv_sec) * kNsPerSec + stamp.tv_nsec);
                if (age > -kNsPerSec && age < kNsPerSec)
                    arrival = monoNow - age;
            }
        }
        ++d.received;
        if (link.loss > 0.0 && m_random.Unit() < link.loss) {
            ++d.lost;
            continue;
        }
        if (d.held >= kQueueLimit) {
            ++d.overflowed;
            continue;
        }
        int64_t delay = link.delayNs;
        if (link.jitterNs > 0)
            delay += int64_t((m_random.Unit() * 2.0 - 1.0) * double(link.jitterNs));
        int family = 0;
        if (const uint8_t* source
            = link.lateIcmp.empty() ? nullptr : IcmpSource(m_buffer.data(), size_t(got), &family)) {
            for (const LateIcmp& late : link.lateIcmp) {
                if (late.family == family && std::memcmp(source, late.address, family == AF_INET ? 4 : 16) == 0) {
                    delay += late.extraNs;
                    ++d.lateIcmp;
                }
            }
        }
        const int64_t due = arrival + std::max<int64_t>(delay, 0);
        m_heap.push(Held {
            due, m_seq++, linkIndex, uint8_t(side), std::vector<uint8_t>(m_buffer.begin(), m_buffer.begin() + got) });
        ++d.held;
    }
}

void Forwarder::SendDue(int64_t now)
{
    // A timer wakes this process some 100 us late on a loaded or virtual machine,
    // and every hop of a path would add that twice. So the timer fires --spin-us
    // early and the last stretch is waited here, without sleeping. A burst of
    // probes (a tracer sending every hop at once) is due in steps of a few
    // microseconds: those are waited for here too, one after the other, as going
    // back through the timer and epoll for each costs more than the step. The
    // sockets are not read meanwhile, which is harmless: frames are due by their
    // kernel arrival stamp, not by when they are read. A chain of such waits stops
    // after kMaxSpinChainNs so reading never stalls for long.
    constexpr int64_t kMaxSpinChainNs = 2 * kNsPerMs;
    const int64_t chainEnd = now + kMaxSpinChainNs;
    while (!m_heap.empty()) {
        const int64_t due = m_heap.top().due;
        if (due > now) {
            if (due - now > kSpinNs || due > chainEnd)
                break;
            while ((now = Now(CLOCK_MONOTONIC)) < due) { }
        }
        const Held& h = m_heap.top();
        Link& link = m_o.links[h.link];
        Direction& d = link.dir[h.direction];
        const int out = link.fd[1 - h.direction];
        // Measured before the send: on a veth, send() goes on to run the receiving
        // router's whole input path before it returns.
        const int64_t late = Now(CLOCK_MONOTONIC) - h.due;
        if (send(out, h.bytes.data(), h.bytes.size(), MSG_DONTWAIT) < 0) {
            ++d.sendErrors;
        } else {
            ++d.forwarded;
            d.lateSumNs += late;
            d.lateMaxNs = std::max(d.lateMaxNs, late);
        }
        --d.held;
        m_heap.pop();
        now = Now(CLOCK_MONOTONIC);
    }
}

void Forwarder::ArmTimer()
{
    const int64_t due = m_heap.empty() ? 0 : std::max<int64_t>(m_heap.top().due - kSpinNs, 1);
    if (due == m_armedDue)
        return;
    itimerspec when {};
    if (due > 0) {
        when.it_value.tv_sec = due / kNsPerSec;
        when.it_value.tv_nsec = due % kNsPerSec;
    }
    timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &when, nullptr);
    m_armedDue = due;
}

bool Forwarder::HandleError(uint32_t linkIndex, int side)
{
    Link& link = m_o.links[linkIndex];
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(link.fd[side], SOL_SOCKET, SO_ERROR, &err, &len);
    return InterfaceExists(link.fd[side], link.ifIndex[side]);
}

void Forwarder::WriteStats() const
{
    if (m_o.statsFile.empty())
        return;
    const std::string tmp = m_o.statsFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return;
    std::fprintf(
        f, "{\"pid\": %d, \"state\": \"%s\", \"held\": %zu, \"links\": [", int(getpid()), m_stopReason, m_heap.size());
    for (size_t i = 0; i < m_o.links.size(); ++i) {
        const Link& l = m_o.links[i];
        std::fprintf(f,
            "%s\n {\"netns\": \"%s\", \"a\": \"%s\", \"b\": \"%s\", \"delay_ms\": %.6f, \"jitter_ms\": %.6f, "
            "\"loss\": %.6f, \"directions\": [",
            i ? "," : "", l.netns.c_str(), l.ifName[0].c_str(), l.ifName[1].c_str(), double(l.delayNs) / 1e6,
            double(l.jitterNs) / 1e6, l.loss);
        for (int s = 0; s < 2; ++s) {
            const Direction& d = l.dir[s];
            std::fprintf(f,
                "%s{\"from\": \"%s\", \"received\": %" PRIu64 ", \"forwarded\": %" PRIu64 ", \"lost\": %" PRIu64
                ", \"overflowed\": %" PRIu64 ", \"send_errors\": %" PRIu64 ", \"held\": %" PRIu64
                ", \"late_icmp\": %" PRIu64 ", \"late_mean_us\": %.3f, \"late_max_us\": %.3f}",
                s ? ", " : "", l.ifName[s].c_str(), d.received, d.forwarded, d.lost, d.overflowed, d.sendErrors, d.held,
                d.lateIcmp, d.forwarded ? double(d.lateSumNs) / double(d.forwarded) / 1e3 : 0.0,
                double(d.lateMaxNs) / 1e3);
        }
        std::fputs("]}", f);
    }
    std::fputs("\n]}\n", f);
    const bool ok = std::fflush(f) == 0;
    std::fclose(f);
    if (ok)
        std::rename(tmp.c_str(), m_o.statsFile.c_str());
}

void Forwarder::DiscardEarlyFrames()
{
    // Frames that reached a side before every link was set up (a router's first
    // IPv6 announcements) would leave late and spoil the lateness figures; the link
    // was not there yet for them, so they are dropped uncounted.
    for (Link& link : m_o.links) {
        for (int side = 0; side < 2; ++side) {
            for (int n = 0; n < kDrainLimit; ++n) {
                if (recv(link.fd[side], m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) < 0)
                    break;
            }
        }
    }
}

int Forwarder::Run()
{
    Setup();
    DiscardEarlyFrames();
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    // Nothing more is written there; whoever waits for "ready" may close its end.
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
        dup2(devnull, STDOUT_FILENO);
        close(devnull);
    }
    WriteStats();

    epoll_event events[64];
    for (;;) {
        SendDue(Now(CLOCK_MONOTONIC));
        ArmTimer();
        const int n = epoll_wait(m_epoll, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Die("epoll_wait");
        }
        const int64_t monoNow = Now(CLOCK_MONOTONIC);
        const int64_t realNow = Now(CLOCK_REALTIME);
        bool stop = false;
        for (int i = 0; i < n; ++i) {
            const uint64_t tag = events[i].data.u64;
            if (tag == kTimerTag) {
                uint64_t expirations;
                [[maybe_unused]] ssize_t r = read(m_timer, &expirations, sizeof expirations);
                m_armedDue = -1; // fired: arm again even for the same due time
            } else if (tag == kSignalTag) {
                signalfd_siginfo si;
                while (read(m_signals, &si, sizeof si) == ssize_t(sizeof si)) {
                    if (si.ssi_signo == SIGUSR1) {
                        WriteStats();
                    } else {
                        m_stopReason = "signalled";
                        stop = true;
                    }
                }
            } else if (tag == kOwnerTag) {
                m_stopReason = "owner ended";
                stop = true;
            } else if (tag == kTickTag) {
                uint64_t expirations;
                [[maybe_unused]] ssize_t r = read(m_tick, &expirations, sizeof expirations);
                if (monoNow >= m_endAt) {
                    m_stopReason = "lifetime over";
                    stop = true;
                }
                for (const Link& l : m_o.links) {
                    for (int s = 0; s < 2; ++s) {
                        if (!InterfaceExists(l.fd[s], l.ifIndex[s])) {
                            m_stopReason = "interface removed";
                            stop = true;
                        }
                    }
                }
            } else {
                const uint32_t link = uint32_t(tag >> 1);
                const int side = int(tag & 1);
                if (events[i].events & (EPOLLERR | EPOLLHUP)) {
                    if (!HandleError(link, side)) {
                        m_stopReason = "interface removed";
                        stop = true;
                    }
                }
                if (events[i].events & EPOLLIN)
                    Drain(link, side, monoNow, realNow);
            }
        }
        if (stop)
            break;
    }
    WriteStats();
    CloseSockets();
    return 0;
}

void Forwarder::CloseSockets()
{
    // Closing a packet socket waits out an RCU grace period (some 15 ms); one after
    // the other, a long path would take seconds to stop. Closed side by side, the
    // waits overlap.
    std::vector<std::thread> closers;
    for (Link& link : m_o.links) {
        for (int& fd : link.fd) {
            if (fd >= 0)
                closers.emplace_back([f = fd] { close(f); });
            fd = -1;
            if (closers.size() >= 64) {
                for (std::thread& t : closers)
                    t.join();
                closers.clear();
            }
        }
    }
    for (std::thread& t : closers)
        t.join();
}

} // namespace

int main(int argc, char** argv)
{
    Options options = ParseOptions(argc, argv);
    return Forwarder(std::move(options)).Run();
}
