"""Entering network namespaces from this process, their sysctls, and whether this
machine can make them at all.

Sysctls and readiness checks move the calling thread into each namespace in turn:
/proc/sys/net and new sockets follow the thread's namespace, so no process is
started per namespace and building a path stays fast.
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
IFF_UP_RUNNING = 0x1 | 0x40
# Some kernels keep these global only: nothing to set inside a namespace there.
OPTIONAL_SYSCTLS = ("icmp_msgs_", "disable_ipv6")


def setns(fd: int) -> None:
    if hasattr(os, "setns"):  # Python 3.12 and later
        return os.setns(fd, CLONE_NEWNET)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.setns(fd, CLONE_NEWNET) != 0:
        raise OSError(ctypes.get_errno(), "setns: " + os.strerror(ctypes.get_errno()))


class InNamespace:
    """`with InNamespace(name):` the calling thread is in namespace `name`."""

    def __init__(self, name: str):
        self.name = name

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


def write_sysctls(values: dict) -> None:
    """Sets sysctls ("net.ipv4.ip_forward": 1, ...) of the current namespace."""
    for name, value in values.items():
        try:
            with open("/proc/sys/" + name.replace(".", "/"), "w") as f:
                f.write(str(value))
        except FileNotFoundError:
            if not any(part in name for part in OPTIONAL_SYSCTLS):
                raise


def interface_running(name: str) -> bool:
    """Up and running: until the kernel marks a veth running, its queue drops packets."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        res = fcntl.ioctl(s.fileno(), SIOCGIFFLAGS, struct.pack("16sH22x", name.encode(), 0))
    return struct.unpack("16sH22x", res)[1] & IFF_UP_RUNNING == IFF_UP_RUNNING


def unavailable_reason(need_nft: bool = False) -> str | None:
    """Why paths cannot be built here, or None when they can.

    Cheap checks first; then a throwaway namespace is really made and removed,
    because root alone is not enough inside some containers.
    """
    if os.geteuid() != 0:
        return "needs root to create network namespaces (running as uid %d)" % os.geteuid()
    for tool, package, needed in (("ip", "iproute2", True), ("nft", "nftables", need_nft)):
        if needed and shutil.which(tool) is None:
            return "the `%s` command (%s) is not installed" % (tool, package)
    # Named like a real path's namespace, so `down --all` finds it too should this
    # process die between the two commands.
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
