#pragma once
// Stand-ins for the parts of the system a test cannot make misbehave on demand: a
// clock it sets, datagrams it crafts, probes it records and lookups it completes in
// any order. The round timer stays real; tests drive rounds through OnTimer.
#include "trace_platform.h"

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <vector>

struct FakeClock final : TickClock {
    uint32_t now = 1000;
    uint32_t GetTickCount() override { return now; }
};

struct FakeResolver final : HostResolver {
    std::map<std::string, uint32_t> names; // name -> address, network byte order
    int forwardLookups = 0;
    bool GetHostByName(const std::string& name, uint32_t* addr) override
    {
        ++forwardLookups;
        const auto it = names.find(name);
        if (it == names.end())
            return false;
        *addr = it->second;
        return true;
    }
};

struct SentProbe {
    uint32_t addr;
    uint16_t port;
    int ttl;
    size_t len;
    int socket; // which Open() it came from
};

struct FakeProbeSocket final : ProbeSocket {
    std::vector<SentProbe> sent;
    std::deque<int> openErrors; // errors the next Open() calls return
    int opens = 0;
    int closes = 0;
    int ttl = 64;
    int Open() override
    {
        if (!openErrors.empty()) {
            const int e = openErrors.front();
            openErrors.pop_front();
            return e;
        }
        ++opens;
        return 0;
    }
    bool SetTtl(int t) override
    {
        ttl = t;
        return true;
    }
    bool SendTo(uint32_t addr, uint16_t port, const void*, size_t len) override
    {
        sent.push_back({ addr, port, ttl, len, opens });
        return true;
    }
    void Close() override { ++closes; }
};

struct FakeIcmpSocket final : IcmpSocket {
    struct Datagram {
        std::vector<uint8_t> bytes;
        uint32_t sender;
        bool stamped = false; // the kernel's receive time, as a tick
        uint32_t arrivalTick = 0;
    };
    std::deque<Datagram> queue;
    bool notify = false;
    bool createFails = false;
    bool Create() override { return !createFails; }
    bool SetSendTimeout(int) override { return true; }
    bool SetReceiveTimeout(int) override { return true; }
    bool Bind() override { return true; }
    void SetNotify(bool on) override { notify = on; }
    ptrdiff_t Receive(uint8_t* buf, size_t len, Origin* origin) override
    {
        if (queue.empty())
            return -1;
        Datagram d = std::move(queue.front());
        queue.pop_front();
        const size_t n = std::min(len, d.bytes.size());
        std::copy_n(d.bytes.begin(), n, buf);
        origin->sender = d.sender;
        origin->stamped = d.stamped;
        origin->arrivalTick = d.arrivalTick;
        return ptrdiff_t(n);
    }
};

struct FakeReverseResolver final : ReverseResolver {
    std::map<int, uint32_t> started; // handle -> address
    std::set<int> cancelled;
    int next = 100;
    bool failStarts = false;
    int Start(uint32_t addr) override
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
        auto c = std::make_unique<FakeClock>();
        auto r = std::make_unique<FakeResolver>();
        auto p = std::make_unique<FakeProbeSocket>();
        auto i = std::make_unique<FakeIcmpSocket>();
        auto v = std::make_unique<FakeReverseResolver>();
        clock = c.get();
        resolver = r.get();
        probe = p.get();
        icmp = i.get();
        reverse = v.get();
        platform.clock = std::move(c);
        platform.resolver = std::move(r);
        platform.probe = std::move(p);
        platform.icmp = std::move(i);
        platform.reverse = std::move(v);
        platform.timer = std::make_unique<RoundTimer>();
    }
};
