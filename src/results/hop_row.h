#pragma once
#include "net_address.h"

#include <cstdint>
#include <string>

// The record behind one row of the results list. The rows are the trace's hop table:
// row i is the hop probed with time-to-live i + 1. The five texts, in column order, are
// what the table shows; every decision reads the typed state beside them, which is set
// together with them, so a hop has answered exactly when pszTime is non-empty.
struct HopRow {
    std::string pszHop;
    std::string pszAddress;
    std::string pszTime;
    std::string pszHost;
    std::string pszResult;
    int hLookup = -1; // reverse lookup handle: -1 none started, 0 start failed
    bool bLookupDone = false; // the lookup has reported: pszHost holds the name or the address

    // Typed state of the latest answer.
    bool bAnswered = false;
    bool bReachedTarget = false; // the target itself answered ("complete")
    bool bEndsPath = false; // destination unreachable: the target's answer or a router's
    NetAddress address; // who answered
    int32_t nTimeMs = 0; // the Time shown, in ticks
    int64_t nRttUs = -1; // the same round trip in microseconds; -1 when not known

    bool answered() const { return bAnswered; }
    // Text of column k (0 to 4); empty for any other column.
    const std::string& text(int column) const;
};

// An answer as the engine hands it to its row: the texts follow from it.
struct HopAnswer {
    NetAddress address;
    std::string result; // the Result text
    bool reachedTarget = false;
    uint32_t sendTick = 0; // of the probe it answers
    uint32_t arrivalTick = 0;
    int64_t rttUs = -1;
    bool endsPath = false; // destination unreachable, from the target or a router
};
