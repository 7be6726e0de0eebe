#pragma once
#include "host_resolver.h"
#include "icmp_socket.h"
#include "probe_socket.h"
#include "reverse_resolver.h"
#include "round_timer.h"
#include "tick_clock.h"

#include <memory>

// Everything a trace needs from the system, in one place so a test can put a fake in
// place of a part the real network cannot be made to misbehave with.
struct TracePlatform {
    std::unique_ptr<TickClock> clock;
    std::unique_ptr<HostResolver> resolver;
    std::unique_ptr<IcmpSocket> icmp;
    // Hands its sockets to the ICMP socket when it closes them (error-queue mode), so it
    // is declared after it and destroyed before it.
    std::unique_ptr<ProbeSocket> probe;
    std::unique_ptr<ReverseResolver> reverse;
    std::unique_ptr<RoundTimer> timer;

    // The real thing: raw socket, UDP probes, system resolver, monotonic clock.
    static TracePlatform System();
};
