#pragma once
#include <QString>

#include <sys/socket.h>

// Which address family a trace uses: the one the host name's first address has (the
// family the user's own connections take), or the one the user forced.
enum class AddressChoice { Auto = 0, V4 = 4, V6 = 6 };

// The family to resolve a host name in: AF_UNSPEC lets its first address decide.
inline int AddressFamily(AddressChoice choice)
{
    return choice == AddressChoice::V4 ? AF_INET : choice == AddressChoice::V6 ? AF_INET6 : AF_UNSPEC;
}

// What a trace is asked to do, with its one set of defaults. The window binds its
// fields to these members, the command line and the settings fill them, and the
// engine takes a copy when a trace starts.
struct TraceParameters {
    QString m_strHost; // a host name or an address, as typed
    int m_nTries = 3; // rounds of probes; 0 or below means one round
    int m_nHops = 16; // rows, the highest hop limit probed (at most 255 are traced)
    int m_nTimeout = 3000; // the longest wait for a round's answers, milliseconds
    bool m_bLookups = true; // false: the trace ends without reverse lookups
    AddressChoice m_family = AddressChoice::Auto;
    // Rounds paced by the full wait time, as the classic tracer did, instead of
    // starting the next round once the answers so far say nothing more is coming.
    bool m_bFixedWait = false;
    // Every probe of the trace on one flow (one source and destination port), so that
    // routers balancing load over equal-cost paths send every probe the same way.
    bool m_bFixedFlow = false;
};
