#pragma once
// Stand-ins for the parts of the system a test cannot make misbehave on demand: a
// clock it sets, datagrams it crafts, probes it records, a resolver that answers at
// once and lookups it completes in any order. The round timer stays real; tests drive
// rounds through OnTimer.
#include "crafted_icmp.h"
#include "icmp_datagram.h"
#include "trace_platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <utility>
#include <vector>

// Milliseconds, as the tick counter shows them; wraps are followed like the real clock.
struct FakeClock final : TickClock {
    uint32_t now = 1000;
    int64_t MonotonicMicros() override
    {
        if (now < m_last)
            m_base += int64_t(1) << 32;
        m_last = now;
        return (m_base + now) * 1000;
    }

private:
    uint32_t m_last = 0;
    int64_t m_base = 0;
};

// Answers at once, or, when deferred, when the test says (as a slow name server would).
struct FakeResolver final : HostResolver {
    std::map<std::string, NetAddress> names;
    int forwardLookups = 0;
    bool deferred = false;
    std::vector<std::pair<int, std::string>> pending;
    void Resolve(int id, const std::string& name, int) override
    {
        ++forwardLookups;
        pending.emplace_back(id, name);
        if (!deferred)
            AnswerAll();
    }
    void AnswerAll()
    {
        for (const auto& [id, name] : std::exchange(pending, {})) {
            const auto it = names.find(name);
            emit resolved(id, it == names.end() ? NetAddress {} : it->second);
        }
    }
};

struct SentProbe {
    NetAddress addr;
    uint16_t port;
    int ttl;
    size_t len;
    std::array<uint8_t, 2> data; // the first data bytes
    int socket; // which Open() it came from
    uint32_t tick; // the clock when it left
};

struct FakeProbeSocket final : ProbeSocket {
    FakeClock* clock = nullptr;
    uint32_t sendTakesMs = 0; // how far each send moves the clock on, as a slow sendto() would
    std::vector<SentProbe> sent;
    std::deque<int> openErrors; // errors the next Open() calls return
    std::deque<int> sendErrors; // errors the next SendTo() calls return (0: the probe leaves)
    int opens = 0;
    int closes = 0;
    int flowOpens = 0; // of them, OpenFlow()
    std::deque<uint16_t> ports; // ports the next Open() calls get, as a system may give them
    uint16_t localPort = 0;
    int ttl = 64;
    // The address the route to a flow's target starts from.
    static NetAddress Source() { return NetAddress::FromV4(htonl(0xC6120101)); } // 198.18.1.1
    // Each round's socket has a port of its own: 40001 for the first.
    static uint16_t PortOf(int socket) { return uint16_t(40000 + socket); }
    int Open(int) override
    {
        if (const int e = TakeFront(openErrors))
            return e;
        ++opens;
        localPort = ports.empty() ? PortOf(opens) : TakeFront(ports);
        return 0;
    }
    int OpenFlow(const NetAddress& to) override
    {
        const int e = Open(to.af());
        flowOpens += e == 0;
        return e;
    }
    uint16_t LocalPort() const override { return localPort; }
    NetAddress LocalAddress() const override { return Source(); }
    bool SetTtl(int t) override
    {
        ttl = t;
        return true;
    }
    int SendTo(const NetAddress& to, uint16_t port, const void* data, size_t len) override
    {
        if (const int e = TakeFront(sendErrors))
            return e;
        std::array<uint8_t, 2> first {};
        std::memcpy(first.data(), data, std::min(len, first.size()));
        sent.push_back({ to, port, ttl, len, first, opens, clock ? clock->GetTickCount() : 0 });
        if (clock)
            clock->now += sendTakesMs;
        return 0;
    }
    void Close() override { ++closes; }

private:
    template <typename T> static T TakeFront(std::deque<T>& queue)
    {
        if (queue.empty())
            return T {};
        const T front = queue.front();
        queue.pop_front();
        return front;
    }
};

// Messages as the raw ICMP and ICMPv6 sockets deliver them, read through the real
// parsers; or as a probe socket's error queue gives them.
struct FakeIcmpSocket final : IcmpSocket {
    struct Datagram {
        std::vector<uint8_t> bytes;
        uint32_t sender; // IPv4, network byte order
        bool stamped = false; // the kernel's receive time, as a tick
        uint32_t arrivalTick = 0;
        NetAddress sender6 {}; // when set: an ICMPv6 message (from its header on) from this sender
        // From a probe socket's error queue, which gives the probe's addresses, ports and
        // data but none of the quoted UDP header (no checksum).
        bool errorQueue = false;
    };
    std::deque<Datagram> queue;
    bool notify = false;
    bool createFails = false;
    bool keepsProbeSockets = false;
    std::vector<uint16_t> released; // the ports of the probe sockets released, in order
    // A watch's answer to its probe for `hop` in round `round` (0 for the first; each round
    // sends from a socket of its own): Port Unreachable from the target `target`, else Time
    // Exceeded, from `sender`, stamped at `arrivalTick`.
    void QueueWatchAnswer(int round, int hop, uint32_t target, uint32_t sender, bool fromTarget, uint32_t arrivalTick)
    {
        CraftedIcmp d;
        d.type = fromTarget ? 3 : 11;
        d.code = fromTarget ? 3 : 0;
        d.quotedDestination = target;
        d.quotedPort = uint16_t(65536 - hop);
        d.quotedSourcePort = FakeProbeSocket::PortOf(round + 1);
        queue.push_back({ d.bytes(), sender, true, arrivalTick });
    }
    void KeepProbeSockets(bool on) override { keepsProbeSockets = on; }
    void ReleaseProbeSocket(uint16_t localPort) override { released.push_back(localPort); }
    bool Create() override { return !createFails; }
    bool SetSendTimeout(int) override { return true; }
    bool SetReceiveTimeout(int) override { return true; }
    bool Bind() override { return true; }
    void SetNotify(bool on) override { notify = on; }
    bool Receive(IcmpAnswer* answer) override
    {
        if (queue.empty())
            return false;
        const Datagram d = std::move(queue.front());
        queue.pop_front();
        const size_t len = std::min(d.bytes.size(), kIcmpReadBuffer);
        if (d.sender6.valid())
            ParseIcmpV6Message(d.bytes.data(), len, answer);
        else
            ParseIcmpV4Datagram(d.bytes.data(), len, answer);
        answer->sender = d.sender6.valid() ? d.sender6 : NetAddress::FromV4(d.sender);
        if (d.errorQueue) {
            answer->hasQuotedChecksum = false;
            answer->quotedChecksum = 0;
        }
        answer->stamped = d.stamped;
        answer->arrivalUs = int64_t(d.arrivalTick) * 1000;
        return true;
    }
};

struct FakeReverseResolver final : ReverseResolver {
    std::map<int, NetAddress> started; // handle -> address
    std::set<int> cancelled;
    int next = 100;
    bool failStarts = false;
    int Start(const NetAddress& addr) override
    {
        if (failStarts)
            return 0;
        started[++next] = addr;
        return next;
    }
    void Cancel(int handle) override { cancelled.insert(handle); }
    // Reports a lookup as the real resolver would, cancelled or not: the engine must
    // cope with a completion that raced its cancel.
    void Complete(int handle, int error, const char* name) { emit lookupDone(handle, error, QByteArray(name)); }
};

// The fakes, with raw pointers kept for the test to steer them after the engine owns them.
struct FakePlatform {
    FakeClock* clock;
    FakeResolver* resolver;
    FakeProbeSocket* probe;
    FakeIcmpSocket* icmp;
    FakeReverseResolver* reverse;
    TracePlatform platform;

    FakePlatform()
    {
        platform.clock.reset(clock = new FakeClock);
        platform.resolver.reset(resolver = new FakeResolver);
        platform.probe.reset(probe = new FakeProbeSocket);
        platform.icmp.reset(icmp = new FakeIcmpSocket);
        platform.reverse.reset(reverse = new FakeReverseResolver);
        probe->clock = clock;
        platform.timer = std::make_unique<RoundTimer>();
    }
};
