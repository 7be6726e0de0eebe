#pragma once
#include <cstdint>

// The clock a trace runs on: CLOCK_MONOTONIC. Round trips are measured in its
// microseconds; the Time column shows the millisecond tick, deliberately truncated to
// 32 bits so that it wraps like the classic tick count and the row arithmetic stays
// the same everywhere.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual int64_t MonotonicMicros() = 0;
    uint32_t GetTickCount() { return TickOf(MonotonicMicros()); }
    static uint32_t TickOf(int64_t micros) { return uint32_t(uint64_t(micros) / 1000u); }
};

class MonotonicTickClock final : public TickClock {
public:
    int64_t MonotonicMicros() override;
};
