"""A router that quotes only 28 bytes: answers every IPv4 UDP datagram whose TTL runs
out at it with "time exceeded" quoting the IP header and 8 bytes, as old routers do.

usage: ip netns exec ROUTER_NS python3 -m tools.short_quote_router --interface IF
       --address ROUTER_ADDRESS [--seconds N]

Run it on a router whose own ICMP answers are dropped (NetnsPath silent=[K]): it reads
the frames arriving on IF (AF_PACKET) and sends its answers the same way back, so
nftables' output rules never see them.
"""

import argparse
import socket
import struct
import time

ETH_P_IP = 0x0800


def checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def answer(frame: bytes, address: bytes) -> bytes | None:
    """The frame that answers `frame`, or None when its TTL does not run out here."""
    if len(frame) < 14 + 28 or struct.unpack("!H", frame[12:14])[0] != ETH_P_IP:
        return None
    ip = frame[14:]
    ihl = (ip[0] & 0x0F) * 4
    if ip[9] != 17 or ip[8] != 1 or ip[16:20] == address or len(ip) < ihl + 8:
        return None
    icmp = bytearray(struct.pack("!BBHI", 11, 0, 0, 0) + ip[:ihl + 8])
    icmp[2:4] = struct.pack("!H", checksum(bytes(icmp)))
    header = bytearray(struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(icmp), 0, 0, 64, 1, 0, address, ip[12:16]))
    header[10:12] = struct.pack("!H", checksum(bytes(header)))
    return frame[6:12] + frame[0:6] + frame[12:14] + bytes(header) + bytes(icmp)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--interface", required=True)
    parser.add_argument("--address", required=True)
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()
    address = socket.inet_aton(args.address)
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_IP))
    s.bind((args.interface, 0))
    s.settimeout(0.2)
    print("ready", flush=True)
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        try:
            frame, meta = s.recvfrom(2048)
        except socket.timeout:
            continue
        if meta[2] == socket.PACKET_OUTGOING:
            continue
        reply = answer(frame, address)
        if reply:
            s.send(reply)


if __name__ == "__main__":
    main()
