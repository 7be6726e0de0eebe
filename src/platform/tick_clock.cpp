#include "tick_clock.h"

#include <ctime>

int64_t MonotonicTickClock::MonotonicMicros()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}
