"""Sends a steady flood of ICMP that has nothing to do with any trace.

    python3 -m tools.icmp_flood --to ADDRESS [--rate N] [--seconds S]   (from the repository root)

Run it inside a namespace next to the tracer (ip netns exec NS python3 -m tools.icmp_flood ...).
Three kinds, in turn: echo replies with a payload (someone else's pings),
time-exceeded errors quoting UDP to an address nobody traces, and port-unreachable
errors quoting ICMP instead of UDP. None of them may change a row of a trace.
Stops by itself after --seconds; needs root (a raw socket).
"""

from __future__ import annotations

import argparse
import os
import socket
import struct
import sys
import time



def icmp_checksum(data: bytes) -> int:
    """The Internet checksum."""
    total = sum(struct.unpack("!%dH" % ((len(data) + 1) // 2), data + b"\0" * (len(data) % 2)))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def icmp(type_: int, code: int, rest: bytes, body: bytes) -> bytes:
    head = struct.pack("!BBH4s", type_, code, 0, rest)
    return struct.pack("!BBH4s", type_, code, icmp_checksum(head + body), rest) + body


def quoted_ip(protocol: int, src: str, dst: str, payload: bytes) -> bytes:
    return struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 0, 0, 1, protocol, 0,
                       socket.inet_aton(src), socket.inet_aton(dst)) + payload


def messages(to: str) -> list[bytes]:
    stranger = "198.19.255.77"  # routed nowhere: no trace targets it
    echo = icmp(0, 0, struct.pack("!HH", 0x4242, 1), os.urandom(48))
    exceeded = icmp(11, 0, b"\0" * 4, quoted_ip(17, to, stranger, struct.pack("!HHHH", 40000, 65533, 10, 0)))
    not_udp = icmp(3, 3, b"\0" * 4, quoted_ip(1, to, stranger, icmp(8, 0, b"\0\1\0\1", b"")))
    return [echo, exceeded, not_udp]


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--to", required=True)
    p.add_argument("--rate", type=int, default=5000, help="datagrams per second")
    p.add_argument("--seconds", type=float, default=5.0)
    a = p.parse_args()
    sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    kinds = messages(a.to)
    batch = max(1, a.rate // 200)  # every 5 ms
    sent = 0
    start = time.monotonic()
    while (now := time.monotonic()) - start < a.seconds:
        due = int((now - start) * a.rate)
        while sent < due:
            for _ in range(min(batch, due - sent)):
                try:
                    sock.sendto(kinds[sent % len(kinds)], (a.to, 0))
                except OSError:
                    pass  # a full queue drops it, as a real flood would lose some
                sent += 1
        time.sleep(0.005)
    print(sent)
    return 0


if __name__ == "__main__":
    sys.exit(main())
