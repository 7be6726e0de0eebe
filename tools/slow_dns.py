#!/usr/bin/env python3
"""A name server that answers late: for tests of a tracer's patience with slow resolvers.

    python3 tools/slow_dns.py --delay 2 --name slow.path.test=198.18.4.2 [--listen 127.0.0.1]

Answers A queries for the given names after DELAY seconds (every other query with no
records, just as late), on UDP port 53 of the listen address, until killed. Run it
inside a test's namespace, with that namespace's resolv.conf naming it.
"""

import argparse
import socket
import struct
import threading
import time


def answer(query: bytes, names: dict) -> bytes:
    ident, _, qdcount = struct.unpack(">HHH", query[:6])
    pos, labels = 12, []
    while query[pos]:
        labels.append(query[pos + 1:pos + 1 + query[pos]].decode("ascii", "replace"))
        pos += 1 + query[pos]
    question = query[12:pos + 5]
    qtype = struct.unpack(">H", query[pos + 1:pos + 3])[0]
    address = names.get(".".join(labels).lower()) if qtype == 1 else None
    records = b""
    if address:
        # A pointer to the question's name, type A, class IN, TTL 0, four bytes.
        records = struct.pack(">HHHIH", 0xC00C, 1, 1, 0, 4) + socket.inet_aton(address)
    flags = 0x8180 if address or ".".join(labels).lower() in names else 0x8183  # NOERROR / NXDOMAIN
    return struct.pack(">HHHHHH", ident, flags, min(qdcount, 1), 1 if address else 0, 0, 0) + question + records


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--delay", type=float, required=True, help="seconds before each answer")
    parser.add_argument("--name", action="append", default=[], metavar="NAME=IPV4", help="a name to answer")
    parser.add_argument("--listen", default="127.0.0.1")
    args = parser.parse_args()
    names = dict(n.lower().split("=", 1) for n in args.name)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((args.listen, 53))

    def reply(query, sender):
        time.sleep(args.delay)
        try:
            sock.sendto(answer(query, names), sender)
        except (IndexError, struct.error):
            pass  # not a query we understand: no answer, as from a server that dropped it

    while True:
        query, sender = sock.recvfrom(512)
        threading.Thread(target=reply, args=(query, sender), daemon=True).start()


if __name__ == "__main__":
    main()
