#pragma once
#include "watch_parameters.h"

#include <QString>

#include <cstddef>

// Descriptors a watch of `targets` targets may hold at once: per target its raw ICMP
// sockets and the socket of every round whose probes may still be in flight (each kept
// bound until they are decided), plus `others` (the metrics listener's connections) and a
// reserve for the process's own.
size_t SocketsNeeded(size_t targets, const WatchParameters& params, size_t others);

// Raises the soft limit on open files (RLIMIT_NOFILE) to the hard one when the watch may
// need more than the soft limit allows. False, with the reason in *error, when even the
// hard limit is too low: then nothing should start, rather than rounds failing later.
bool MakeRoomForSockets(size_t targets, const WatchParameters& params, size_t others, QString* error);
