#include "trace_platform.h"

TracePlatform TracePlatform::System()
{
    TracePlatform p;
    p.clock = std::make_unique<MonotonicTickClock>();
    p.resolver = std::make_unique<HostResolver>();
    p.probe = std::make_unique<UdpProbeSocket>();
    p.icmp = std::make_unique<RawIcmpSocket>();
    p.reverse = std::make_unique<ThreadedReverseResolver>();
    p.timer = std::make_unique<RoundTimer>();
    return p;
}
