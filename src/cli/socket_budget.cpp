#include "socket_budget.h"

#include "icmp_socket.h"

#include <algorithm>
#include <sys/resource.h>

namespace {
constexpr size_t kRawSockets = 2; // ICMP and ICMPv6, with the raw-socket capability
constexpr size_t kReserve = 64; // standard streams, the signal and timer descriptors, resolvers
} // namespace

size_t SocketsNeeded(size_t targets, const WatchParameters& params, size_t others)
{
    const int64_t waitUs = int64_t(params.waitMs) * 1000;
    // Rounds sent while the first one's probes wait, the first one and the one being sent.
    const size_t rounds = size_t((waitUs + params.intervalUs - 1) / params.intervalUs) + 2;
    return targets * (kRawSockets + std::min(rounds, kMaxProbeSockets)) + others + kReserve;
}

bool MakeRoomForSockets(size_t targets, const WatchParameters& params, size_t others, QString* error)
{
    const size_t needed = SocketsNeeded(targets, params, others);
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || needed <= limit.rlim_cur)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && needed > limit.rlim_max) {
        const QString watched = targets == 1 ? QStringLiteral("1 target") : QStringLiteral("%1 targets").arg(targets);
        *error = QStringLiteral("%1%2 may hold %3 sockets at once at this interval and wait, more than the limit "
                                "of %4 open files (ulimit -Hn): watch fewer targets, or raise the limit")
                     .arg(watched, others == 0 ? QString() : QStringLiteral(" and the metrics listener"))
                     .arg(needed)
                     .arg(limit.rlim_max);
        return false;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    return true;
}
