#pragma once
#include "net_address.h"

// Lets a raw ICMP (IPv4) or ICMPv6 socket receive only the errors that quote a datagram
// sent to `destination`, by a classic BPF socket filter the kernel runs before queueing.
// A raw socket otherwise gets a copy of every ICMP message the host receives: a watch of
// many targets, one raw socket each, would read and throw away every other target's
// answers. `af` is the socket's family; a destination of the other family lets nothing
// through. False (errno set) when the kernel refused the filter: then everything still
// comes, as without it.
bool KeepOnlyAnswersAbout(int fd, int af, const NetAddress& destination);
