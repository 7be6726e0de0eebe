"""Entering network namespaces from this process, their sysctls, and whether
this machine can make them at all.

Sysctls and readiness checks move the calling thread into each namespace in
turn: /proc/sys/net and new sockets follow the thread's namespace, so no process
is started per namespace and building a path stays fast.
"""

from __future__ import annotations

import ctypes
import fcntl
import os
import secrets
import shutil
import socket
import struct
import subprocess
import sys

NETNS_DIR = "/run/netns"
PREFIX = "hlpath-"
SKIP_EXIT = 77  # what ctest and automake read as "skipped"

CLONE_NEWNET = 0x40000000
SIOCGIFFLAGS = 0x8913
IFF_UP, IFF_RUNNING = 0x1, 0x40

_libc = None


def setns(fd: int) -> None:
    if hasattr(os, "setns"):  # Python 3.12 and later
        os.setns(fd, CLONE_NEWNET)
        return
    global _libc
    if _libc is None:
        _libc = ctypes.CDLL(None, use_errno=True)
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, "setns: " + os.strerror(err))


class InNamespace:
    """`with InNamespace(name):` the calling thread is in namespace `name`."""

    def __init__(self, name: str):
        self.name = name
        self.home = -1

    def __enter__(self):
        self.home = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        fd = os.open(os.path.join(NETNS_DIR, self.name), os.O_RDONLY | os.O_CLOEXEC)
        try:
            setns(fd)
        except BaseException:
            os.close(self.home)
            raise
        finally:
            os.close(fd)
        return self

    def __exit__(self, *exc):
        try:
            setns(self.home)
        finally:
            os.close(self.home)
        return False


def write_sysctl(name: str, value, required: bool = True) -> None:
    """Sets a sysctl of the current namespace; `required=False` for those some
    kernels keep global only (nothing to set there)."""
    try:
        with open("/proc/sys/" + name.replace(".", "/"), "w") as f:
            f.write(str(value))
    except FileNotFoundError:
        if required:
            raise


def read_sysctl(ns: str, name: str) -> str:
    with InNamespace(ns):
        with open("/proc/sys/" + name.replace(".", "/")) as f:
            return f.read().strip()


def interface_running(name: str) -> bool:
    """Up and running: until the kernel marks a veth running, its queue drops packets."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        res = fcntl.ioctl(s.fileno(), SIOCGIFFLAGS, struct.pack("16sH22x", name.encode(), 0))
    flags = struct.unpack("16sH22x", res)[1]
    return flags & (IFF_UP | IFF_RUNNING) == IFF_UP | IFF_RUNNING


def icmp_checksum(data: bytes) -> int:
    """The Internet checksum, for the ICMP messages tests and tools craft."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def unavailable_reason(need_nft: bool = False) -> str | None:
    """Why paths cannot be built here, or None when they can.

    Cheap checks first; then a throwaway namespace is really made and removed,
    because root alone is not enough inside some containers.
    """
    if os.geteuid() != 0:
        return "needs root to create network namespaces (running as uid %d)" % os.geteuid()
    if shutil.which("ip") is None:
        return "the `ip` command (iproute2) is not installed"
    if need_nft and shutil.which("nft") is None:
        return "the `nft` command (nftables) is not installed"
    # Named like a real path's namespace, so `down --all` finds it too should
    # this process die between the two commands.
    probe = PREFIX + secrets.token_hex(4) + "-src"
    for verb in ("add", "del"):
        try:
            result = subprocess.run(["ip", "netns", verb, probe], stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True)
        except OSError as exc:
            return "`ip netns %s` could not run: %s" % (verb, exc)
        if result.returncode != 0:
            return "`ip netns %s` failed: %s" % (verb, result.stderr.strip())
    return None


def exit_unless_available(extra_reason: str | None = None) -> None:
    """For test runners: exit 77 (skipped), saying why, when paths cannot be built."""
    reason = unavailable_reason(need_nft=True) or extra_reason
    if reason:
        print("SKIP: %s" % reason, file=sys.stderr, flush=True)
        sys.exit(SKIP_EXIT)
