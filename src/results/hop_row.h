#pragma once
#include <array>
#include <cstdint>
#include <string>

// Size of the buffer each row carries for its reverse lookup's answer, so that starting
// a lookup needs no allocation.
inline constexpr int HOSTBUF_SIZE = 1024;

// The record behind one row of the results list. The rows are the trace's hop table:
// row i is the hop probed with time-to-live i + 1, and a hop has answered exactly when
// pszTime is non-empty. The five texts are in column order.
struct HopRow {
    std::string pszHop;
    std::string pszAddress;
    std::string pszTime;
    std::string pszHost;
    std::string pszResult;
    uint32_t dwSendTick = 0; // tick of the hop's latest probe
    int hLookup = -1;        // reverse lookup handle: -1 none started, 0 start failed
    std::array<char, HOSTBUF_SIZE> pHostBuf {}; // the lookup's answer, NUL-terminated

    bool answered() const { return !pszTime.empty(); }
    // Text of column k (0 to 4); empty for any other column.
    const std::string& text(int column) const;
};

// Time modes of UpdateHopRow.
enum HopRowTimeMode {
    HOPROW_TIME_UNCHANGED = 0,
    HOPROW_TIME_SENT = 1,     // store the tick as the hop's send tick
    HOPROW_TIME_ANSWERED = 2, // the tick is the answer's arrival: show tick - send tick
};
