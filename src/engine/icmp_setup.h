#pragma once
#include "icmp_socket.h"

#include <QStringList>

// Creates, times out and binds the ICMP socket once, for the trace and the watch alike:
// every failed step adds its message and set-up goes on. *created tells whether answers
// can be read at all.
QStringList SetUpIcmpSocket(IcmpSocket& sock, int timeoutMs, bool* created);
