"""What a tracer really put on the wire and got back, timed by the kernel.

A packet socket on the source namespace's only link (e0) sees every probe a
tracer sends and every answer it gets, each stamped by the kernel as it passes
(SO_TIMESTAMPNS).  From that the benchmarks take: how long one round of probes
took to leave, when the first probe left after the program started, and the
round trip each answer really had on the wire -- which the Time a tracer shows
can then be held against, separating the emulator's own accuracy from the
tracer's.
"""

from __future__ import annotations

import select
import socket
import struct
import threading
import time

ETH_P_ALL = 0x0003
ETH_P_IP = 0x0800
PACKET_OUTGOING = 4
SO_TIMESTAMPNS = 35
SCM_TIMESTAMPNS = SO_TIMESTAMPNS
IPPROTO_ICMP, IPPROTO_UDP = 1, 17


class Frame:
    __slots__ = ("stamp", "outgoing", "proto", "ttl", "src", "dst", "sport", "dport",
                 "icmp_type", "icmp_code", "quoted_dst", "quoted_proto", "quoted_dport",
                 "icmp_id", "icmp_seq", "quoted_id", "quoted_seq")

    def __init__(self):
        for name in self.__slots__:
            setattr(self, name, None)


def _parse(stamp: float, outgoing: bool, data: bytes) -> Frame | None:
    if len(data) < 14 + 20 or struct.unpack_from("!H", data, 12)[0] != ETH_P_IP:
        return None
    ip = data[14:]
    ihl = (ip[0] & 0x0F) * 4
    f = Frame()
    f.stamp = stamp
    f.outgoing = outgoing
    f.ttl = ip[8]
    f.proto = ip[9]
    f.src = socket.inet_ntoa(ip[12:16])
    f.dst = socket.inet_ntoa(ip[16:20])
    l4 = ip[ihl:]
    if f.proto == IPPROTO_UDP and len(l4) >= 8:
        f.sport, f.dport = struct.unpack_from("!HH", l4, 0)
    elif f.proto == IPPROTO_ICMP and len(l4) >= 8:
        f.icmp_type, f.icmp_code = l4[0], l4[1]
        if f.icmp_type in (0, 8):
            f.icmp_id, f.icmp_seq = struct.unpack_from("!HH", l4, 4)
        elif f.icmp_type in (3, 11) and len(l4) >= 8 + 20 + 8:
            q = l4[8:]
            qihl = (q[0] & 0x0F) * 4
            f.quoted_proto = q[9]
            f.quoted_dst = socket.inet_ntoa(q[16:20])
            ql4 = q[qihl:]
            if len(ql4) >= 8:
                if f.quoted_proto == IPPROTO_UDP:
                    f.quoted_dport = struct.unpack_from("!H", ql4, 2)[0]
                elif f.quoted_proto == IPPROTO_ICMP:
                    f.quoted_id, f.quoted_seq = struct.unpack_from("!HH", ql4, 4)
    return f


class WireCapture:
    """Captures on one interface of one namespace while a with-block runs.

        with WireCapture(path.source_ns) as cap:
            run tracer
        cap.frames  -> list of Frame, in order, stamps in CLOCK_REALTIME seconds
    """

    def __init__(self, netns: str, ifname: str = "e0", enter=None):
        self.netns = netns
        self.ifname = ifname
        self.frames: list[Frame] = []
        self._enter = enter
        self._stop = threading.Event()
        self._thread: threading.Thread | None = None
        self._sock: socket.socket | None = None

    def __enter__(self) -> "WireCapture":
        with self._enter(self.netns):
            sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
            sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
            sock.bind((self.ifname, ETH_P_ALL))
        self._sock = sock
        self._thread = threading.Thread(target=self._loop, daemon=True)
        self._thread.start()
        return self

    def _loop(self) -> None:
        sock = self._sock
        while True:
            ready, _, _ = select.select([sock], [], [], 0.05)
            if not ready:
                if self._stop.is_set():
                    return
                continue
            while True:
                try:
                    data, anc, _flags, addr = sock.recvmsg(256, 256, socket.MSG_DONTWAIT)
                except BlockingIOError:
                    break
                stamp = time.time()
                for level, kind, value in anc:
                    if level == socket.SOL_SOCKET and kind == SCM_TIMESTAMPNS and len(value) >= 16:
                        sec, nsec = struct.unpack("qq", value[:16])
                        stamp = sec + nsec / 1e9
                frame = _parse(stamp, addr[2] == PACKET_OUTGOING, data)
                if frame is not None:
                    self.frames.append(frame)

    def __exit__(self, *exc) -> bool:
        # Let frames already on their way in be read.
        time.sleep(0.02)
        self._stop.set()
        self._thread.join(5)
        self._sock.close()
        return False

    # Views ----------------------------------------------------------------

    def udp_probes(self, target: str) -> list[Frame]:
        return [f for f in self.frames if f.outgoing and f.proto == IPPROTO_UDP and f.dst == target]

    def first_round(self, target: str, gap: float = 0.5) -> list[Frame]:
        """The probes sent before the first pause of `gap` seconds: one round."""
        probes = self.udp_probes(target)
        out = probes[:1]
        for p in probes[1:]:
            if p.stamp - out[-1].stamp > gap:
                break
            out.append(p)
        return out

    def udp_round_trips(self, target: str) -> dict[int, float]:
        """Destination port -> wire round trip (ms) from the latest probe to that
        port before its first answer, as a tracer timing against the latest probe
        of a row would see it."""
        last_sent: dict[int, float] = {}
        rtts: dict[int, float] = {}
        for f in self.frames:
            if f.outgoing and f.proto == IPPROTO_UDP and f.dst == target:
                last_sent[f.dport] = f.stamp
            elif (not f.outgoing and f.proto == IPPROTO_ICMP and f.quoted_proto == IPPROTO_UDP
                  and f.quoted_dst == target and f.quoted_dport in last_sent
                  and f.quoted_dport not in rtts):
                rtts[f.quoted_dport] = (f.stamp - last_sent[f.quoted_dport]) * 1000.0
        return rtts
