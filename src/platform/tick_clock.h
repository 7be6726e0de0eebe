#pragma once
#include <cstdint>

// The millisecond tick counter the trace times its answers with: CLOCK_MONOTONIC in
// milliseconds, deliberately truncated to 32 bits so that it wraps like the classic
// tick count and the row arithmetic stays the same everywhere.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual uint32_t GetTickCount() = 0;
};

class MonotonicTickClock final : public TickClock {
public:
    uint32_t GetTickCount() override;
};
