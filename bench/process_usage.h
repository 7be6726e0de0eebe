#pragma once
// What a benchmark program reads of its own process: CPU time so far and resident set.
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

// User and system CPU time of this process, in seconds.
inline double CpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A figure of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 where /proc cannot tell.
inline long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + std::char_traits<char>::length(field), nullptr, 10);
    return -1;
}

// The resident set now, in KiB.
inline long RssKb()
{
    return StatusKb("VmRSS:");
}

// The greatest resident set so far, in KiB.
inline long PeakRssKb()
{
    return StatusKb("VmHWM:");
}
