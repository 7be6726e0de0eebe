#!/usr/bin/env python3
"""Writes the saved seed inputs of the fuzz targets into corpus/<target>/.

The seeds are small, readable starting points: well-formed answers and files, and the
damaged forms the readers must survive. libFuzzer grows its own inputs from them in the
fuzz build's folder; only these stay in the source tree. Run it again after changing it.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = bytes([198, 18, 5, 2])
OTHER = bytes([198, 18, 6, 2])


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def ip_header(options, protocol, dst):
    """From 198.18.0.1, time to live 64, `options` bytes of NOP options."""
    return struct.pack("!BBHHHBBH4s4s", 0x40 | (20 + options) // 4, 0, 0, 0, 0, 64, protocol, 0,
                       bytes([198, 18, 0, 1]), dst) + b"\x01" * options


def answer(type_=11, code=0, protocol=17, dst=TARGET, port=65535, outer=0, quoted=0, extra=b""):
    udp = struct.pack(">HHHH", 40001, port, 10, 0)  # the first round's port
    return (ip_header(outer, 1, bytes([198, 18, 0, 1])) + bytes([type_, code, 0, 0, 0, 0, 0, 0])
            + ip_header(quoted, protocol, dst) + udp + extra)


# ---- ICMP answers, as a raw socket delivers them
icmp = {
    "time-exceeded": answer(),
    "port-unreachable": answer(3, 3, port=65533),
    "host-unreachable": answer(3, 1, port=65534),
    "echo-reply": answer(0, 0, protocol=1),
    "unknown-type": answer(42, 7),
    "ip-options-both": answer(outer=12, quoted=8, port=65530),
    "longest-headers": answer(outer=40, quoted=40, port=65281),
    "long-quote": answer(extra=bytes(range(200))),
    "quotes-ping": answer(protocol=1),
    "quotes-tcp": answer(protocol=6),
    "other-destination": answer(dst=OTHER),
    "short-55": answer()[:55],
    "cut-in-ports": answer(outer=12, quoted=8)[:-5],
    "empty": b"",
    "outer-header-16": bytes([0x44]) + answer()[1:],
    "outer-header-60-short": bytes([0x4F]) + answer()[1:],
    "quoted-header-0": answer()[:28] + bytes([0x40]) + answer()[29:],
}


def answer6(type_=3, code=0, next_header=17, port=65535):
    target = bytes.fromhex("20010db8000000050000000000000002")
    quoted = bytes([0x60, 0, 0, 0, 0, 0, next_header, 0]) + bytes(16) + target  # from ::
    return bytes([type_, code, 0, 0, 0, 0, 0, 0]) + quoted + struct.pack(">HHHH", 40001, port, 10, 0)


icmp6 = {
    "v6-time-exceeded": answer6(),
    "v6-port-unreachable": answer6(1, 4, port=65533),
    "v6-packet-too-big": answer6(2, 0),
    "v6-quotes-tcp": answer6(next_header=6),
    "v6-echo-reply": answer6(129, 0),
    "v6-cut-in-ports": answer6()[:-6],
}
# The first byte picks the family: 0 IPv4, 1 IPv6.
for name, data in icmp.items():
    write("icmp_answer", name, b"\x00" + data)
for name, data in icmp6.items():
    write("icmp_answer", name, b"\x01" + data)


# ---- Trace engine event streams: [hops][tries/lookups/host] then events (see the target)
def host(text):
    raw = text.encode("utf-8")
    return struct.pack(">H", len(raw)) + raw


def crafted(type_, code, hop, flags=0, sender=1, clock=5, cut=3):
    cut_byte = bytes([cut]) if flags & 0x80 else b""
    return bytes([1, type_, code, hop, flags]) + cut_byte + bytes([sender, clock])


def raw(data, sender=TARGET, clock=3, stamped=False):
    return bytes([0x84 if stamped else 0]) + struct.pack(">H", len(data)) + data + sender + bytes([clock])


def lookup(pick, name, failed=False):
    raw_name = name.encode("utf-8")
    return bytes([3, (pick | 0x40) if failed else pick]) + struct.pack(">H", len(raw_name)) + raw_name


TICK = bytes([2])
engine = {
    # Three hops answer in turn; the target ends the trace, then the names come back.
    "three-hops": bytes([3, 3]) + crafted(11, 0, 1) + crafted(11, 0, 2, sender=2)
    + crafted(3, 3, 3, sender=5) + lookup(2, "target.path.test") + lookup(0, "r1.path.test")
    + lookup(1, "", failed=True),
    # A silent router and rounds that run out.
    "rounds-run-out": bytes([6, 2]) + crafted(11, 0, 1) + crafted(11, 0, 3) + TICK + TICK + TICK
    + lookup(0, "x" * 1100),
    # Answers with IP options, stamped by the kernel, one cut short.
    "options-and-stamps": bytes([4, 3]) + raw(answer(outer=12, quoted=8, port=65535), stamped=True)
    + raw(answer(3, 3, port=65534)[:50]) + crafted(11, 0, 3, flags=0x3c) + crafted(3, 3, 4, flags=0x80),
    # Answers that must not count: other destination, a ping, beyond the table.
    "must-not-count": bytes([2, 3]) + crafted(11, 0, 1, flags=1) + crafted(11, 0, 2, flags=2)
    + crafted(11, 0, 39) + raw(b"") + bytes([5, 9]),
    # A name that resolves, then a new trace in the middle of the lookups.
    "restart": bytes([2, 0x23]) + crafted(11, 0, 1) + crafted(3, 3, 2) + bytes([4, 2, 3])
    + crafted(11, 0, 1) + lookup(0, "stale.path.test"),
    # Host texts that resolve nowhere.
    "host-non-ascii": bytes([3, 0x43]) + host("bücher.example") + TICK,
    "host-emoji": bytes([3, 0x63]) + host("\U0001F680.example") + TICK,
    "host-blanks": bytes([3, 0x43]) + host("   \t "),
    "host-newline-nul": bytes([3, 0x43]) + host("a.example\nb.example\0c"),
    "host-long": bytes([3, 0x43]) + host("a" * 500),
    # Beyond 255 hops: the table stops at 255.
    "many-hops": bytes([0xFF, 1]) + crafted(3, 3, 0x80 | 38) + TICK,
    # Fixed flow (hop byte 24 + hops): answers quoting a probe's checksum (0x20), its
    # data (0x40), both (0x60) or neither; low 4 bits pick the probe, 0x10 another port.
    "flow-tags": bytes([28, 3]) + crafted(11, 0, 0x20) + crafted(11, 0, 0x41, sender=2)
    + crafted(11, 0, 0x70) + crafted(11, 0, 0x20, flags=0x80, cut=9) + crafted(3, 3, 0x63, sender=5),
    # An answer without a tag; the next round probes the silent rows one at a time.
    "flow-one-at-a-time": bytes([28, 3]) + crafted(11, 0, 0x01, sender=2) + crafted(11, 0, 0x20)
    + crafted(3, 3, 0x23, sender=5) + TICK + crafted(11, 0, 0x04, sender=2) + bytes([0x20])
    + crafted(11, 0, 0x05, sender=3) + lookup(0, "r1.path.test"),
}
for name, data in engine.items():
    write("trace_engine", name, data)


# ---- Settings files
GOOD = (
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Hoplantern\\Options]\n"
    "\"Retries\"=dword:00000003\n"
    "\"Hop number\"=dword:00000010\n"
    "\"Timeout\"=dword:00000bb8\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Veltrosyn\\Ivrak\\Hoplantern]\n"
    "\"Window position\"=hex:10,00,00,00,20,00,00,00,30,01,00,00,40,01,00,00\n"
    "\"Column order\"=hex:00,00,00,00,01,00,00,00,02,00,00,00,03,00,00,00,04,00,00,00,\\\n"
    "  00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\n"
)
settings = {
    "good": GOOD.encode(),
    "regedit-utf16": b"\xff\xfe" + GOOD.replace("\n", "\r\n").encode("utf-16-le"),
    "regedit4": GOOD.replace("Windows Registry Editor Version 5.00", "REGEDIT4").encode(),
    "truncated": GOOD.encode()[:-30],
    "no-final-newline": GOOD.encode()[:-1],
    "empty": b"",
    "typed-and-default": (
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\A\\b\\C]\n"
        "@=hex(7):61,00,00,00\n\"say \\\"hi\\\" \\\\ [there]\"=hex:\n"
        "\"Dword as hex\"=hex(4):01,02,03,04\n; a comment\n").encode(),
    "strings-and-deletions": (
        "[HKEY_CURRENT_USER\\Software\\X]\n\"s\"=\"text\"\n\"d\"=-\n[-HKEY_CURRENT_USER\\Software\\Y]\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Z]\n\"v\"=dword:1\n").encode(),
    "binary": b"\x7fELF\x02\x01\x01\x00\x00\x00\xff\n\xfe\x00[HKEY_CURRENT_USER\\\x00]\n",
    "not-utf8": GOOD.encode() + b"\"caf\xe9\"=dword:00000001\n",
    "odd-keys": (
        "[HKEY_CURRENT_USER\\a]b\\\\c\\ ]\n\"x\"=dword:00000001\n[HKEY_CURRENT_USER\\A]B\\C\\ ]\n"
        "\"X\"=dword:00000002\n[HKEY_CURRENT_USER\\]\n[HKEY_CURRENT_USER]\n").encode(),
    # Half a UTF-16 character in a key name, as only a UTF-16 file can hold it.
    "utf16-unpaired-surrogate": b"\xff\xfe" + "[HKEY_CURRENT_USER\\Software\\A".encode("utf-16-le")
    + b"\x79\xde" + "]\r\n\"x\"=dword:00000001\r\n".encode("utf-16-le"),
    # Value lines that lost their opening quote, one starting with a character beyond
    # 16 bits: neither is a value.
    "name-without-opening-quote": (
        "[HKEY_CURRENT_USER\\A]\nXRetries\"=dword:00000005\n"
        "\U00071C70x\"=dword:00000001\n\U00071C71x\"=dword:00000002\n").encode(),
}
for name, data in settings.items():
    write("settings_store", name, data)
