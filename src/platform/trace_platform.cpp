#include "trace_platform.h"

TracePlatform TracePlatform::System()
{
    TracePlatform p;
    p.clock = std::make_unique<MonotonicTickClock>();
    p.resolver = std::make_unique<SystemHostResolver>();
    auto icmp = std::make_unique<SystemIcmpSocket>();
    p.probe = std::make_unique<UdpProbeSocket>(icmp.get());
    p.icmp = std::move(icmp);
    p.reverse = std::make_unique<ThreadedReverseResolver>();
    p.timer = std::make_unique<RoundTimer>();
    return p;
}
