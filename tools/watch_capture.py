"""A watch's round trips beside the wire's, from a tcpdump capture of the source's link.

    lines, wire = watched_on_the_wire(path, argv)   # argv: hoplantern-cli --watch --json ...
    wire[(round, ttl)]  -> the probe's round trip on the wire, in microseconds

tcpdump captures the source namespace's only link (e0) with nanosecond stamps, taken
by the kernel as each probe leaves and each answer arrives. A probe is paired with its
answer by the answer's quote (source port: the round's socket; destination port: the
hop), and a round's port with its round by the order the ports first leave. IPv4,
default (not fixed-flow) mode.
"""

from __future__ import annotations

import json
import os
import socket
import struct
import subprocess
import tempfile
import time

PCAP_NANO_MAGIC = 0xA1B23C4D
BLOCK_TIMEOUT_S = 1.2


def read_pcap(file: str) -> list[tuple[float, bytes]]:
    """(stamp in seconds, frame) of every frame of a nanosecond pcap file."""
    with open(file, "rb") as f:
        data = f.read()
    magic = struct.unpack_from("<I", data, 0)[0] if len(data) >= 24 else None
    if magic != PCAP_NANO_MAGIC:
        raise RuntimeError("%s: not a nanosecond capture (magic %r)" % (file, magic))
    frames, off = [], 24
    while off + 16 <= len(data):
        sec, frac, caplen, _ = struct.unpack_from("<IIII", data, off)
        off += 16
        frames.append((sec + frac / 1e9, data[off:off + caplen]))
        off += caplen
    return frames


def wire_round_trips(frames, source: str, target: str) -> tuple[list[int], dict]:
    """The probes' source ports in the order they first leave, and (source port,
    destination port) -> round trip on the wire in microseconds."""
    sent, rtts, ports = {}, {}, []
    for stamp, frame in frames:
        if len(frame) < 34 or struct.unpack_from("!H", frame, 12)[0] != 0x0800:
            continue
        ip = frame[14:]
        l4 = ip[(ip[0] & 0x0F) * 4:]
        src, dst = socket.inet_ntoa(ip[12:16]), socket.inet_ntoa(ip[16:20])
        if ip[9] == 17 and src == source and dst == target and len(l4) >= 8:
            key = struct.unpack_from("!HH", l4, 0)
            if key[0] not in ports:
                ports.append(key[0])
            sent.setdefault(key, stamp)
        elif ip[9] == 1 and dst == source and len(l4) >= 36 and l4[0] in (3, 11):
            quoted = l4[8:]
            ql4 = quoted[(quoted[0] & 0x0F) * 4:]
            if quoted[9] != 17 or socket.inet_ntoa(quoted[16:20]) != target or len(ql4) < 4:
                continue
            key = struct.unpack_from("!HH", ql4, 0)
            if key in sent and key not in rtts:
                rtts[key] = (stamp - sent[key]) * 1e6
    return ports, rtts


def watched_on_the_wire(path, argv: list[str], timeout: float = 120) -> tuple[list, dict]:
    """Runs argv (a watch with --json) in the source namespace under tcpdump: its JSON
    lines, and (round, ttl) -> the wire's round trip in microseconds."""
    with tempfile.TemporaryDirectory(prefix="hoplantern-capture-") as folder:
        pcap = os.path.join(folder, "watch.pcap")
        dump = subprocess.Popen(path.exec_args("tcpdump", "-i", "e0", "-n", "-U", "-s", "200",
                                               "--time-stamp-precision=nano", "-w", pcap, "udp or icmp"),
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            dump.stderr.readline()  # "listening on e0 ...": capturing from here on
            done = subprocess.run(path.exec_args(*argv), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                  timeout=timeout)
            # Frames reach tcpdump a block at a time, the last block when its timer (1 s)
            # ends it. --immediate-mode would not wait, but its wake-up of tcpdump for each
            # frame runs between the capture's stamp and the frame leaving the link.
            time.sleep(BLOCK_TIMEOUT_S)
        finally:
            dump.terminate()
            dump.wait(10)
            dump.stderr.close()
        if done.returncode != 0:
            raise RuntimeError("%s: exit %d\n%s" % (" ".join(argv), done.returncode, done.stderr))
        ports, rtts = wire_round_trips(read_pcap(pcap), path.source_address, path.target)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    wire = {}
    for r, port in enumerate(ports):
        for (sport, dport), us in rtts.items():
            if sport == port:
                wire[(r, (65536 - dport) & 0xFFFF)] = us
    return lines, wire
