#pragma once
#include "icmp_answer.h"

// Reads one ICMP or ICMPv6 error from the error queue of a probe socket that has
// IP_RECVERR (IPV6_RECVERR) set. The kernel gives the offender, the type and code and
// the probe's original destination; the quoted source port is the socket's own port,
// given by the caller. A transmit stamp of the socket's comes back as a SendStamp, a
// message of any other origin as Malformed. False only when the queue is empty.
bool ReadErrorQueue(int fd, uint16_t localPort, IcmpAnswer* answer);
