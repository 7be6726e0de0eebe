#!/usr/bin/env python3
"""A chain of real Linux routers in network namespaces, for tracing against.

    src --veth-- r1 --veth-- r2 ... rN --veth-- target

Link k joins namespace k-1 and namespace k and uses 198.18.k.0/24: the end
nearer the source is .1, the far end .2.  So the source is 198.18.1.1, router
k answers from 198.18.k.2 (its interface facing the source) and the target is
198.18.(N+1).2.  Every address comes from 198.18.0.0/15, the range set aside
for benchmarking, and nothing connects the chain to the machine's own
interfaces: the source namespace routes only 198.18.0.0/15, into r1, so a
tracer run inside it cannot send a probe anywhere else.  Addresses in
198.19.0.0/16 are routed from the source but exist nowhere, so r1 answers
probes for them with "network unreachable" -- though only a few in a row: the
kernel limits those answers with a budget per source address set machine-wide
(net.ipv4.route.error_cost / error_burst, which a namespace cannot change).

Used three ways:

* from Python, as a context manager::

      with NetnsPath(routers=4, silent=[2], names=True) as path:
          subprocess.run(path.exec_args("traceroute", "-n", path.target))

* from C++ or shell tests and benchmarks, as a command line::

      netns_path.py up --routers 5 --silent 3 --json   # prints a JSON object
      netns_path.py down HANDLE                        # removes all of it

  Pass `--owner PID` (the calling test's pid) to `up` and a chain left behind
  by a test that was killed outright is removed by the next chain built.

* wrapping one command, with removal guaranteed when it ends::

      netns_path.py run --routers 5 --inside -- traceroute -n {target}

Removal: `down`, the end of the with-block, SIGINT/SIGTERM/SIGHUP and normal
interpreter exit all remove everything; `down --stale` and every new chain
remove chains whose owner died; `down --all` removes every chain there is.

Links can be made slow (a path emulator): `delay_ms`, `jitter_ms` and `loss`
put a link's own namespace between its two routers, holding two veth ends that
only tests/pathemu/hl_delay_link joins, after the delay (the kernels here have
no netem).  `target_icmp_ratelimit` and `icmp_limit` give the target and the
routers the ICMP rate limits of real routers.  See tests/pathemu/README.md.

Needs root.  Without it (or where `ip netns` cannot work) the command line
exits 77, the code ctest and automake read as "skipped".
"""

from __future__ import annotations

import argparse
import atexit
import ctypes
import errno
import fcntl
import json
import os
import re
import secrets
import select
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

PREFIX = "hlpath-"
HANDLE_RE = re.compile(r"^hlpath-[0-9a-f]{8}$")
NETNS_DIR = "/run/netns"
ETC_NETNS = "/etc/netns"
# One small file per chain naming the process that owns it, so a chain whose
# owner was killed outright (SIGKILL, e.g. a ctest timeout) is removed by the
# next fixture that comes up instead of staying for good.
OWNERS_DIR = "/run/hoplantern-netns"
DEFAULT_DOMAIN = "path.test"
# Link k uses 198.18.k.0/24 and there are routers + 1 links, so k stays a byte.
MAX_ROUTERS = 254
# Never assigned to any interface; routed from the source into r1.
UNROUTED_ADDRESS = "198.19.0.1"
# The kernel's ICMP limits are per destination (icmp_ratelimit) and per
# namespace (icmp_msgs_per_sec / icmp_msgs_burst).  With the per-destination
# limit off the tests still want the namespace bucket out of the way, so a
# fast tracer sees every answer; these values are high enough never to bite.
UNLIMITED_MSGS_PER_SEC = 1000000
UNLIMITED_MSGS_BURST = 1000000
# ping_group_range that systemd sets on ordinary desktops, so a tracer using
# unprivileged ICMP sockets behaves in the source namespace as it would there.
DESKTOP_PING_GROUP_RANGE = (0, 2147483647)
SKIP_EXIT = 77
READY_WAIT_SECONDS = 10.0
# Emulated links: the forwarder that delays them, how long it may take to come
# up, and how long it lives at most should nobody stop it.
DELAY_LINK_ENV = "HL_DELAY_LINK"
DELAY_LINK_READY_SECONDS = 10.0
DEFAULT_EMULATOR_LIFETIME = 3600.0
# Example: "10/second burst 5 packets" -- an nftables limit on a router's ICMP output.
ICMP_LIMIT_RE = re.compile(r"^\d+/(second|minute|hour|day)( burst \d+ packets)?$")

CLONE_NEWNET = 0x40000000
SIOCGIFFLAGS = 0x8913
IFF_UP = 0x1
IFF_RUNNING = 0x40


class FixtureUnavailable(Exception):
    """This machine cannot host the fixture (no root, no usable `ip netns`)."""


class FixtureError(Exception):
    """Building or removing the fixture failed."""


def icmp_checksum(data: bytes) -> int:
    """The Internet checksum, for the ICMP messages tests and tools craft."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def unavailable_reason(need_nft: bool = False) -> str | None:
    """Why the fixture cannot run here, or None when it can.

    Cheap checks first; then a throwaway namespace is really made and removed,
    because root alone is not enough inside some containers.
    """
    if os.geteuid() != 0:
        return "needs root to create network namespaces (running as uid %d)" % os.geteuid()
    if shutil.which("ip") is None:
        return "the `ip` command (iproute2) is not installed"
    if need_nft and shutil.which("nft") is None:
        return "the `nft` command (nftables) is not installed"
    # Named like a real chain's namespace, so `down --all` finds it too
    # should this process die between the two commands.
    probe = PREFIX + secrets.token_hex(4) + "-src"
    try:
        result = subprocess.run(["ip", "netns", "add", probe],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
    except OSError as exc:
        return "`ip netns add` could not run: %s" % exc
    if result.returncode != 0:
        return "`ip netns add` failed: %s" % result.stderr.strip()
    result = subprocess.run(["ip", "netns", "del", probe],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        return "`ip netns del` failed: %s" % result.stderr.strip()
    return None


def exit_unless_available(extra_reason: str | None = None) -> None:
    """For test runners: exit 77 (skipped), saying why, when the fixture cannot run."""
    reason = unavailable_reason() or extra_reason
    if reason:
        print("SKIP: %s" % reason, file=sys.stderr)
        sys.stderr.flush()
        sys.exit(SKIP_EXIT)


# --- entering namespaces from this process --------------------------------
#
# Sysctls and readiness checks are done by moving this thread into each
# namespace in turn: /proc/sys/net and new sockets follow the calling thread's
# namespace.  That costs no process per namespace, which keeps set-up fast.

_libc = None


def _setns(fd: int) -> None:
    if hasattr(os, "setns"):  # Python 3.12 and later
        os.setns(fd, CLONE_NEWNET)
        return
    global _libc
    if _libc is None:
        _libc = ctypes.CDLL(None, use_errno=True)
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, "setns: " + os.strerror(err))


class _InNamespace:
    """Moves the calling thread into a named namespace and back."""

    def __init__(self, name: str):
        self.name = name
        self.home = -1

    def __enter__(self):
        self.home = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        fd = os.open(os.path.join(NETNS_DIR, self.name), os.O_RDONLY | os.O_CLOEXEC)
        try:
            _setns(fd)
        except BaseException:
            os.close(self.home)
            raise
        finally:
            os.close(fd)
        return self

    def __exit__(self, *exc):
        try:
            _setns(self.home)
        finally:
            os.close(self.home)
        return False


def _write_sysctl(path: str, value: str, required: bool = True) -> None:
    try:
        with open("/proc/sys/" + path.replace(".", "/"), "w") as f:
            f.write(value)
    except FileNotFoundError:
        # Older kernels keep some ICMP limits global only; nothing to set then.
        if required:
            raise


def _interface_flags(name: str) -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        req = struct.pack("16sH22x", name.encode(), 0)
        res = fcntl.ioctl(s.fileno(), SIOCGIFFLAGS, req)
        return struct.unpack("16sH22x", res)[1]


# --- removal that survives signals and crashes ----------------------------

_live: dict[str, "NetnsPath"] = {}
_live_lock = threading.RLock()
_children: set[subprocess.Popen] = set()
_handlers_installed = False
_previous_handlers: dict[int, object] = {}


def _teardown_all() -> None:
    # A child `ip` may still be creating namespaces: stop it first, or it
    # could add one after the removal below has looked.
    for child in list(_children):
        try:
            child.kill()
            # Not child.wait(): the interrupted main thread may be inside it,
            # holding the lock it takes, and this handler runs on that thread.
            os.waitpid(child.pid, 0)
        except OSError:
            pass  # already reaped
    with _live_lock:
        for path in list(_live.values()):
            path.down()


def _on_signal(signum, frame):
    _teardown_all()
    previous = _previous_handlers.get(signum)
    if signum == signal.SIGINT and previous is signal.default_int_handler:
        raise KeyboardInterrupt
    if callable(previous):
        previous(signum, frame)
    elif previous == signal.SIG_DFL:
        # Die of the same signal, so the parent sees what really happened.
        signal.signal(signum, signal.SIG_DFL)
        os.kill(os.getpid(), signum)
    raise SystemExit(128 + signum)


def _install_handlers() -> None:
    global _handlers_installed
    if _handlers_installed:
        return
    _handlers_installed = True
    atexit.register(_teardown_all)
    if threading.current_thread() is not threading.main_thread():
        return  # signal handlers can only be set from the main thread; atexit still works
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        previous = signal.getsignal(signum)
        # Someone else's SIGINT handler (e.g. unittest's --catch) keeps control;
        # the with-block and atexit still remove the namespaces then.
        if signum == signal.SIGINT and previous is not signal.default_int_handler:
            continue
        if previous == signal.SIG_IGN:
            continue
        _previous_handlers[signum] = previous
        signal.signal(signum, _on_signal)


def _run(args: list[str], stdin_text: str | None = None, check: bool = True) -> subprocess.CompletedProcess:
    proc = subprocess.Popen(args, stdin=subprocess.PIPE if stdin_text is not None else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    _children.add(proc)
    try:
        out, err = proc.communicate(stdin_text)
    finally:
        _children.discard(proc)
    result = subprocess.CompletedProcess(args, proc.returncode, out, err)
    if check and result.returncode != 0:
        raise FixtureError("%s failed (exit %d): %s" % (" ".join(args), result.returncode, err.strip()))
    return result


def _run_parallel(jobs: list[tuple[list[str], str]]) -> None:
    procs = []
    try:
        for args, text in jobs:
            proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True)
            _children.add(proc)
            procs.append((args, proc))
            proc.stdin.write(text)  # a batch is a few KiB: fits the pipe, never blocks
            proc.stdin.close()
        failures = []
        for args, proc in procs:
            err = proc.stderr.read()
            if proc.wait() != 0:
                failures.append("%s failed (exit %d): %s" % (" ".join(args), proc.returncode, err.strip()))
        if failures:
            raise FixtureError("; ".join(failures))
    finally:
        for _, proc in procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stderr.close()
            _children.discard(proc)


def namespaces_of(handle: str) -> list[str]:
    """Every namespace that exists now for this handle."""
    if not HANDLE_RE.match(handle):
        raise ValueError("not a fixture handle: %r" % handle)
    # dK: the namespace of emulated link K, between its two routers.
    pattern = re.compile("^" + re.escape(handle) + r"-(src|target|r\d+|d\d+)$")
    try:
        names = os.listdir(NETNS_DIR)
    except FileNotFoundError:
        return []
    return sorted(n for n in names if pattern.match(n))


def _process_start(pid: int) -> str | None:
    """Start time of a live process, to tell it from a later one with its pid."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[19]
    except (OSError, IndexError):
        return None


def _owner_file(handle: str) -> str:
    return os.path.join(OWNERS_DIR, handle)


def _links_file(handle: str) -> str:
    """Names the forwarder of a chain's emulated links (pid and start time)."""
    return os.path.join(OWNERS_DIR, handle + ".links")


def _link_stats_file(handle: str) -> str:
    return os.path.join(OWNERS_DIR, handle + ".links-stats.json")


def _link_log_file(handle: str) -> str:
    return os.path.join(OWNERS_DIR, handle + ".links-log")


def _stop_process(pid: int, start: str | None, grace: float = 2.0) -> None:
    """Ends one process we started, known by pid and start time (never a later
    process that reuses the pid): SIGTERM, then SIGKILL after `grace` seconds."""
    if not pid or start is None or _process_start(pid) != start:
        return
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, grace)):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            try:
                done, _ = os.waitpid(pid, os.WNOHANG)  # ours: reap it
                if done:
                    return
            except ChildProcessError:
                pass  # someone else's child: watch /proc instead
            if _process_start(pid) != start or _process_state(pid) == "Z":
                return
            time.sleep(0.005)


def _process_state(pid: int) -> str | None:
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return None


def _stop_link_forwarders(handle: str) -> None:
    try:
        with open(_links_file(handle)) as f:
            entries = json.load(f)
    except (OSError, ValueError):
        return
    for entry in entries:
        _stop_process(int(entry.get("pid") or 0), entry.get("start"))


def _write_owner(handle: str, pid: int) -> None:
    """pid 0: nobody owns the chain; it stays until `down`."""
    os.makedirs(OWNERS_DIR, exist_ok=True)
    owner = {"pid": pid, "start": _process_start(pid) if pid else None}
    tmp = _owner_file(handle) + ".tmp"
    with open(tmp, "w") as f:
        json.dump(owner, f)
    os.replace(tmp, _owner_file(handle))


def _owner_gone(handle: str) -> bool:
    """True only when the chain had an owner and that process no longer runs."""
    try:
        with open(_owner_file(handle)) as f:
            owner = json.load(f)
    except (OSError, ValueError):
        return False  # no owner recorded (or being written): leave it alone
    pid = owner.get("pid") or 0
    return pid > 0 and _process_start(pid) != owner.get("start")


def remove_stale() -> list[str]:
    """Removes chains whose owning process died without removing them."""
    removed = []
    for handle in all_handles():
        if handle not in _live and _owner_gone(handle):
            try:
                remove_handle(handle)
                removed.append(handle)
            except FixtureError:
                pass
    return removed


def remove_handle(handle: str) -> list[str]:
    """Removes every namespace and file of one fixture; safe to repeat."""
    # The forwarder first: it holds sockets in the link namespaces.
    _stop_link_forwarders(handle)
    names = namespaces_of(handle)
    problems = []
    if names:
        # -force: go on past a namespace that someone else already removed.
        result = _run(["ip", "-force", "-batch", "-"],
                      "".join("netns del %s\n" % n for n in names), check=False)
        left = namespaces_of(handle)
        if left:
            problems.append("namespaces left: %s (%s)" % (", ".join(left), result.stderr.strip()))
    etc_dir = os.path.join(ETC_NETNS, handle + "-src")
    if os.path.isdir(etc_dir):
        shutil.rmtree(etc_dir, ignore_errors=True)
        if os.path.exists(etc_dir):
            problems.append("could not remove " + etc_dir)
    if problems:
        raise FixtureError("; ".join(problems))
    # Last, so a chain half removed still names its owner.
    for leftover in (_links_file(handle), _link_stats_file(handle), _link_stats_file(handle) + ".tmp",
                     _link_log_file(handle)):
        try:
            os.unlink(leftover)
        except FileNotFoundError:
            pass
    try:
        os.unlink(_owner_file(handle))
    except FileNotFoundError:
        pass
    return names


def all_handles() -> list[str]:
    handles = set()
    try:
        names = os.listdir(NETNS_DIR)
    except FileNotFoundError:
        names = []
    for n in names:
        m = re.match(r"^(hlpath-[0-9a-f]{8})-", n)
        if m:
            handles.add(m.group(1))
    for directory, pattern in ((ETC_NETNS, r"^(hlpath-[0-9a-f]{8})-src$"),
                               (OWNERS_DIR, r"^(hlpath-[0-9a-f]{8})$"),
                               (OWNERS_DIR, r"^(hlpath-[0-9a-f]{8})\.links")):
        try:
            for n in os.listdir(directory):
                m = re.match(pattern, n)
                if m:
                    handles.add(m.group(1))
        except FileNotFoundError:
            pass
    return sorted(handles)


# --- the fixture ------------------------------------------------------------

class Router:
    def __init__(self, hop: int, ns: str, name: str | None, silent: bool):
        self.hop = hop
        self.ns = ns
        self.address = "198.18.%d.2" % hop          # faces the source; answers TTL-exceeded
        self.far_address = "198.18.%d.1" % (hop + 1)  # faces the target
        self.name = name
        self.silent = silent

    def as_dict(self) -> dict:
        return {"hop": self.hop, "ns": self.ns, "address": self.address,
                "far_address": self.far_address, "name": self.name, "silent": self.silent}


def _per_link(value, n_links: int, what: str, top: float | None = None) -> list[float]:
    """One number for every link, or one per link (link 1 first)."""
    values = [float(v) for v in value] if isinstance(value, (list, tuple)) else [float(value)] * n_links
    if len(values) != n_links:
        raise ValueError("%s: %d values given for %d links" % (what, len(values), n_links))
    for v in values:
        if not v >= 0 or (top is not None and v > top):
            raise ValueError("%s must be between 0 and %s, not %r" % (what, top if top is not None else "inf", v))
    return values


def find_delay_link() -> str | None:
    """The forwarder binary: $HL_DELAY_LINK, or the one in the usual build directory."""
    candidates = [os.environ.get(DELAY_LINK_ENV, "")]
    here = os.path.dirname(os.path.abspath(__file__))
    candidates.append(os.path.join(here, "..", "..", "build", "tests", "pathemu", "hl_delay_link"))
    for c in candidates:
        if c and os.path.isfile(c) and os.access(c, os.X_OK):
            return os.path.abspath(c)
    return None


class NetnsPath:
    """A chain of kernel routers; `with NetnsPath(...) as path:` builds and removes it.

    Emulated links (all optional; each a number for every link or a list with one
    per link, link 1 being src--r1 and link N+1 rN--target):
      delay_ms, jitter_ms -- one-way delay of each direction, spread evenly over
                             delay +- jitter; loss -- fraction of frames dropped.
      delay_link          -- the forwarder binary (default find_delay_link()).
      link_seed           -- seeds jitter and loss, for repeatable runs.
      emulator_lifetime   -- seconds after which the forwarder ends regardless.
      emulator_owner      -- pid whose end stops the forwarder at once (default the
                             owner given to up(), else this process; 0: none).
      emulator_args       -- more hl_delay_link options, e.g. ("--spin-us", "0").
    ICMP limits like those of real routers:
      target_icmp_ratelimit -- net.ipv4.icmp_ratelimit of the target alone (the
                             kernel default is 1000); None: as icmp_ratelimit.
      icmp_limit          -- nftables limit on the ICMP the routers send, e.g.
                             "10/second burst 5 packets"; beyond it they are silent.
      icmp_limit_routers  -- which routers (1-based) get it; None: all.
    """

    def __init__(self, routers: int = 4, silent=(), target_silent: bool = False,
                 names: bool = False, icmp_ratelimit: int = 0,
                 ping_group_range=DESKTOP_PING_GROUP_RANGE, domain: str = DEFAULT_DOMAIN,
                 delay_ms=0.0, jitter_ms=0.0, loss=0.0, delay_link: str | None = None,
                 link_seed: int | None = None, emulator_lifetime: float = DEFAULT_EMULATOR_LIFETIME,
                 emulator_owner: int | None = None, target_icmp_ratelimit: int | None = None,
                 icmp_limit: str | None = None, icmp_limit_routers=None, emulator_args=()):
        if not 0 <= routers <= MAX_ROUTERS:
            raise ValueError("routers must be between 0 and %d" % MAX_ROUTERS)
        silent = sorted(set(int(k) for k in silent))
        for k in silent:
            if not 1 <= k <= routers:
                raise ValueError("silent router %d is not in 1..%d" % (k, routers))
        if icmp_ratelimit < 0:
            raise ValueError("icmp_ratelimit cannot be negative")
        if not re.match(r"^[a-z0-9]([a-z0-9.-]*[a-z0-9])?$", domain):
            raise ValueError("not a usable domain: %r" % domain)
        self.router_count = routers
        self.silent = silent
        self.target_silent = target_silent
        self.names = names
        self.icmp_ratelimit = icmp_ratelimit
        self.ping_group_range = ping_group_range
        self.domain = domain
        self.handle = ""
        self.is_up = False

        n_links = routers + 1
        self.link_delay_ms = _per_link(delay_ms, n_links, "delay_ms")
        self.link_jitter_ms = _per_link(jitter_ms, n_links, "jitter_ms")
        self.link_loss = _per_link(loss, n_links, "loss", top=1.0)
        self.delay_link = delay_link
        self.link_seed = link_seed
        if not emulator_lifetime > 0:
            raise ValueError("emulator_lifetime must be positive")
        self.emulator_lifetime = float(emulator_lifetime)
        self.emulator_owner = emulator_owner
        if target_icmp_ratelimit is not None and target_icmp_ratelimit < 0:
            raise ValueError("target_icmp_ratelimit cannot be negative")
        self.target_icmp_ratelimit = target_icmp_ratelimit
        if icmp_limit is not None and not ICMP_LIMIT_RE.match(icmp_limit):
            raise ValueError("icmp_limit is an nftables rate like '10/second burst 5 packets', not %r"
                             % icmp_limit)
        self.icmp_limit = icmp_limit
        limited = range(1, routers + 1) if icmp_limit_routers is None else icmp_limit_routers
        self.icmp_limit_routers = sorted(set(int(k) for k in limited)) if icmp_limit else []
        for k in self.icmp_limit_routers:
            if not 1 <= k <= routers:
                raise ValueError("icmp_limit router %d is not in 1..%d" % (k, routers))
        self.emulator_args = [str(a) for a in emulator_args]
        self._forwarder: subprocess.Popen | None = None  # only while this process owns it
        self._forwarder_pid: int | None = None
        self._forwarder_start: str | None = None
        self._up_owner: int | None = None

    # Names and addresses --------------------------------------------------

    @property
    def source_ns(self) -> str:
        return self.handle + "-src"

    @property
    def target_ns(self) -> str:
        return self.handle + "-target"

    @property
    def source_address(self) -> str:
        return "198.18.1.1"

    @property
    def target(self) -> str:
        return "198.18.%d.2" % (self.router_count + 1)

    @property
    def target_name(self) -> str | None:
        return "target." + self.domain if self.names else None

    @property
    def routers(self) -> list[Router]:
        return [Router(k, "%s-r%d" % (self.handle, k),
                       "r%d.%s" % (k, self.domain) if self.names else None,
                       k in self.silent)
                for k in range(1, self.router_count + 1)]

    @property
    def namespaces(self) -> list[str]:
        return [self.source_ns] + [r.ns for r in self.routers] + [self.target_ns]

    # Emulated links ---------------------------------------------------------

    def link_emulated(self, k: int) -> bool:
        """Link k (1-based) passes through the forwarder."""
        i = k - 1
        return self.link_delay_ms[i] > 0 or self.link_jitter_ms[i] > 0 or self.link_loss[i] > 0

    @property
    def emulated(self) -> bool:
        return any(self.link_emulated(k) for k in range(1, self.router_count + 2))

    def link_ns(self, k: int) -> str | None:
        """The namespace of link k where the forwarder joins its two halves."""
        return "%s-d%d" % (self.handle, k) if self.link_emulated(k) else None

    @property
    def link_namespaces(self) -> list[str]:
        return [self.link_ns(k) for k in range(1, self.router_count + 2) if self.link_emulated(k)]

    def rtt_ms(self, hop: int) -> float:
        """Emulated round trip to hop `hop` (router k, or the target at routers+1):
        the delays of links 1..hop, both ways, jitter left out."""
        if not 1 <= hop <= self.router_count + 1:
            raise ValueError("hop %d is not on this path" % hop)
        return 2.0 * sum(self.link_delay_ms[:hop])

    @property
    def forwarder_pid(self) -> int | None:
        return self._forwarder_pid

    def link_log(self) -> str:
        """What the forwarder wrote to stderr (warnings, the reason it failed)."""
        try:
            with open(_link_log_file(self.handle), errors="replace") as f:
                return f.read().strip()
        except OSError:
            return ""

    def link_stats(self, refresh: bool = True) -> dict | None:
        """The forwarder's counters per link and direction: frames received,
        forwarded, lost, and how late they left (late_mean_us, late_max_us).
        None without emulated links."""
        if not self.emulated or not self.handle:
            return None
        stats_path = _link_stats_file(self.handle)
        pid = self.forwarder_pid
        if refresh and pid:
            try:
                before = os.stat(stats_path).st_mtime_ns
            except FileNotFoundError:
                before = 0
            os.kill(pid, signal.SIGUSR1)
            deadline = time.monotonic() + 2.0
            while time.monotonic() < deadline:
                try:
                    if os.stat(stats_path).st_mtime_ns != before:
                        break
                except FileNotFoundError:
                    pass
                time.sleep(0.002)
        try:
            with open(stats_path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    @property
    def hosts_file(self) -> str | None:
        return os.path.join(ETC_NETNS, self.source_ns, "hosts") if self.names else None

    def exec_args(self, *command: str) -> list[str]:
        """argv that runs `command` inside the source namespace."""
        return ["ip", "netns", "exec", self.source_ns, *command]

    def describe(self) -> dict:
        return {
            "handle": self.handle,
            "source_ns": self.source_ns,
            "source_address": self.source_address,
            "target_ns": self.target_ns,
            "target": self.target,
            "target_name": self.target_name,
            "target_silent": self.target_silent,
            "routers": [r.as_dict() for r in self.routers],
            "namespaces": self.namespaces,
            "unrouted_address": UNROUTED_ADDRESS,
            "icmp_ratelimit": self.icmp_ratelimit,
            "hosts_file": self.hosts_file,
            "down": [sys.executable, os.path.abspath(__file__), "down", self.handle],
            "target_icmp_ratelimit": self.target_icmp_ratelimit,
            "icmp_limit": self.icmp_limit,
            "icmp_limit_routers": self.icmp_limit_routers,
            "links": [{"link": k, "ns": self.link_ns(k),
                       "delay_ms": self.link_delay_ms[k - 1], "jitter_ms": self.link_jitter_ms[k - 1],
                       "loss": self.link_loss[k - 1]}
                      for k in range(1, self.router_count + 2)],
            "link_namespaces": self.link_namespaces,
            "delay_link_pid": self.forwarder_pid,
            "link_stats_file": _link_stats_file(self.handle) if self.emulated else None,
        }

    # Building ---------------------------------------------------------------

    def up(self, owner: int | None = None) -> "NetnsPath":
        """Builds the chain.  `owner`: the pid whose death makes it stale
        (default this process)."""
        if self.is_up:
            return self
        reason = unavailable_reason(need_nft=bool(self.silent or self.target_silent or self.icmp_limit))
        if reason:
            raise FixtureUnavailable(reason)
        with _live_lock:
            _install_handlers()
            remove_stale()
            while True:
                self.handle = PREFIX + secrets.token_hex(4)
                if self.handle not in all_handles():
                    break
            # Registered before anything exists, so a signal or crash at any
            # point below still removes whatever was made.
            _live[self.handle] = self
            self.is_up = True
        self._up_owner = owner
        try:
            _write_owner(self.handle, os.getpid() if owner is None else owner)
            self._build()
        except BaseException:
            self.down()
            raise
        return self

    def _build(self) -> None:
        ns = self.namespaces
        n_links = self.router_count + 1
        # One `ip` for all namespaces and veth pairs.  Each veth end is created
        # straight inside its namespace, so the short names cannot clash with
        # anything in the machine's own namespace.  In every namespace the
        # interface towards the source is w0 and the one towards the target e0.
        # Explicit interface indexes keep the two ends of a pair different:
        # left alone, both ends of every pair get index 2 in their fresh
        # namespaces, the kernel then files their carrier change as not
        # urgent, and the links only start passing packets about a second later.
        lines = ["netns add %s" % n for n in ns]
        if not self.emulated:
            for k in range(1, n_links + 1):
                lines.append("link add name e0 index %d netns %s type veth peer name w0 index %d netns %s"
                             % (100 + 2 * k, ns[k - 1], 101 + 2 * k, ns[k]))
        else:
            lines += self._emulated_link_lines()
        _run(["ip", "-batch", "-"], "\n".join(lines) + "\n")

        # Sysctls before any link is up, so forwarding and the ICMP limits
        # hold from the first packet.
        for i, name in enumerate(ns):
            with _InNamespace(name):
                if 1 <= i <= self.router_count:
                    _write_sysctl("net.ipv4.ip_forward", "1")
                _write_sysctl("net.ipv4.icmp_ratelimit", str(self.icmp_ratelimit))
                if self.icmp_ratelimit == 0:
                    _write_sysctl("net.ipv4.icmp_msgs_per_sec", str(UNLIMITED_MSGS_PER_SEC), required=False)
                    _write_sysctl("net.ipv4.icmp_msgs_burst", str(UNLIMITED_MSGS_BURST), required=False)
                if i == 0 and self.ping_group_range is not None:
                    lo, hi = self.ping_group_range
                    _write_sysctl("net.ipv4.ping_group_range", "%d %d" % (lo, hi))
                if i == len(ns) - 1 and self.target_icmp_ratelimit is not None:
                    # The target alone limited like a real host; where the others are
                    # unlimited its namespace budget goes back to the kernel's own.
                    _write_sysctl("net.ipv4.icmp_ratelimit", str(self.target_icmp_ratelimit))
                    if self.target_icmp_ratelimit != 0 and self.icmp_ratelimit == 0:
                        _write_sysctl("net.ipv4.icmp_msgs_per_sec", "1000", required=False)
                        _write_sysctl("net.ipv4.icmp_msgs_burst", "50", required=False)
                    elif self.target_icmp_ratelimit == 0:
                        _write_sysctl("net.ipv4.icmp_msgs_per_sec", str(UNLIMITED_MSGS_PER_SEC), required=False)
                        _write_sysctl("net.ipv4.icmp_msgs_burst", str(UNLIMITED_MSGS_BURST), required=False)
        if self.emulated:
            # IPv4 only: without the interfaces' IPv6 announcements every frame a
            # slow link carries is one a test or tracer sent, and its counters add up.
            for name in ns + self.link_namespaces:
                with _InNamespace(name):
                    _write_sysctl("net.ipv6.conf.all.disable_ipv6", "1", required=False)
                    _write_sysctl("net.ipv6.conf.default.disable_ipv6", "1", required=False)
        for name in self.link_namespaces:
            with _InNamespace(name):
                # No forwarding: only the forwarder moves frames across.
                _write_sysctl("net.ipv4.ip_forward", "0")

        # Silent hops: the kernel still decides to answer, and nftables drops
        # the ICMP on its way out, like a filtering router does.  The counter
        # lets a test prove an answer was made and dropped rather than wait.
        silent_ns = [self.routers[k - 1].ns for k in self.silent]
        if self.target_silent:
            silent_ns.append(self.target_ns)
        for name in silent_ns:
            _run(["ip", "netns", "exec", name, "nft", "-f", "-"],
                 "table ip hoplantern_fixture {\n"
                 "  chain output {\n"
                 "    type filter hook output priority 0; policy accept;\n"
                 "    ip protocol icmp counter drop\n"
                 "  }\n"
                 "}\n")

        # A router's own limit on the ICMP it makes, as real routers have (control
        # plane policing): past the rate its answers are dropped on the way out.
        for k in self.icmp_limit_routers:
            _run(["ip", "netns", "exec", self.routers[k - 1].ns, "nft", "-f", "-"],
                 "table ip hoplantern_icmp_limit {\n"
                 "  chain output {\n"
                 "    type filter hook output priority 0; policy accept;\n"
                 "    ip protocol icmp limit rate over %s counter drop\n"
                 "  }\n"
                 "}\n" % self.icmp_limit)

        if self.names:
            self._write_names()

        # Addresses, links and routes: one `ip -batch` per namespace, all at once.
        jobs = []
        for i, name in enumerate(ns):
            cmds = ["link set lo up"]
            if i >= 1:  # has a link towards the source: link i, we are its .2 end
                cmds += ["addr add 198.18.%d.2/24 dev w0" % i, "link set w0 up"]
                cmds += ["route add 198.18.%d.0/24 via 198.18.%d.1" % (j, i) for j in range(1, i)]
            if i <= self.router_count:  # has a link towards the target: link i+1, we are its .1 end
                cmds += ["addr add 198.18.%d.1/24 dev e0" % (i + 1), "link set e0 up"]
                if i == 0:
                    # The source reaches the whole test range through r1 and
                    # nothing else: a probe can never leave the chain.
                    cmds.append("route add 198.18.0.0/15 via 198.18.1.2")
                else:
                    cmds += ["route add 198.18.%d.0/24 via 198.18.%d.2" % (j, i + 1)
                             for j in range(i + 2, n_links + 1)]
            if self.emulated:
                cmds += self._static_neighbour_lines(i)
            jobs.append((["ip", "-n", name, "-batch", "-"], "\n".join(cmds) + "\n"))
        for name in self.link_namespaces:
            jobs.append((["ip", "-n", name, "-batch", "-"], "link set w0 up\nlink set e0 up\n"))
        _run_parallel(jobs)
        self._wait_ready()
        if self.emulated:
            self._start_forwarder()

    # Emulated links -----------------------------------------------------------

    @staticmethod
    def _mac(k: int, end: int) -> str:
        """Fixed hardware address of link k's end nearer the source (1) or the target (2)."""
        return "02:68:6c:%02x:%02x:%02x" % (k >> 8, k & 0xFF, end)

    def _emulated_link_lines(self) -> list[str]:
        ns = self.namespaces
        lines = ["netns add %s" % n for n in self.link_namespaces]
        for k in range(1, self.router_count + 2):
            left, right = ns[k - 1], ns[k]
            mid = self.link_ns(k)
            if mid is None:
                lines.append("link add name e0 index %d address %s netns %s type veth peer name w0 index %d "
                             "address %s netns %s" % (100 + 2 * k, self._mac(k, 1), left, 101 + 2 * k,
                                                      self._mac(k, 2), right))
                continue
            # Two pairs: left.e0 -- mid.w0 and mid.e0 -- right.w0; the forwarder in
            # mid joins w0 and e0. Indexes stay distinct within every pair.
            lines.append("link add name e0 index %d address %s netns %s type veth peer name w0 index %d netns %s"
                         % (100 + 2 * k, self._mac(k, 1), left, 2000 + 2 * k, mid))
            lines.append("link add name e0 index %d netns %s type veth peer name w0 index %d address %s netns %s"
                         % (2001 + 2 * k, mid, 101 + 2 * k, self._mac(k, 2), right))
        return lines

    def _static_neighbour_lines(self, i: int) -> list[str]:
        # Fixed neighbour entries: no ARP crosses a slow link, so the first probe of a
        # trace costs one round trip like every later one, as on a path in use.
        cmds = []
        if i >= 1:
            cmds.append("neigh replace 198.18.%d.1 lladdr %s dev w0 nud permanent" % (i, self._mac(i, 1)))
        if i <= self.router_count:
            cmds.append("neigh replace 198.18.%d.2 lladdr %s dev e0 nud permanent" % (i + 1, self._mac(i + 1, 2)))
        return cmds

    def _start_forwarder(self) -> None:
        binary = self.delay_link or find_delay_link()
        if not binary:
            raise FixtureError("hl_delay_link not found: build it (cmake --build build --target hl_delay_link) "
                               "or set %s" % DELAY_LINK_ENV)
        owner = self.emulator_owner
        if owner is None:
            owner = os.getpid() if self._up_owner is None else self._up_owner
        args = [binary, "--realtime", "--stats", _link_stats_file(self.handle),
                "--max-seconds", "%g" % self.emulator_lifetime]
        if owner:
            args += ["--owner", str(owner)]
        if self.link_seed is not None:
            args += ["--seed", str(self.link_seed)]
        args += self.emulator_args
        for k in range(1, self.router_count + 2):
            if self.link_emulated(k):
                args += ["--link", "%s:w0:e0:%g:%g:%g" % (self.link_ns(k), self.link_delay_ms[k - 1],
                                                         self.link_jitter_ms[k - 1], self.link_loss[k - 1])]
        os.makedirs(OWNERS_DIR, exist_ok=True)
        # Its messages go to a file: it may outlive this process (`up`), and must
        # not hold a caller's pipe open meanwhile.
        with open(_link_log_file(self.handle), "wb") as log:
            proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
        self._forwarder = proc
        self._forwarder_pid = proc.pid
        self._forwarder_start = _process_start(proc.pid)
        # Recorded before waiting for it, so `down` from anywhere can stop it.
        tmp = _links_file(self.handle) + ".tmp"
        with open(tmp, "w") as f:
            json.dump([{"pid": proc.pid, "start": self._forwarder_start}], f)
        os.replace(tmp, _links_file(self.handle))
        ready = b""
        deadline = time.monotonic() + DELAY_LINK_READY_SECONDS
        fd = proc.stdout.fileno()
        while not ready.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise FixtureError("hl_delay_link did not come up within %gs: %s"
                                   % (DELAY_LINK_READY_SECONDS, self.link_log()))
            chunk = os.read(fd, 64)
            if not chunk:
                proc.wait()
                raise FixtureError("hl_delay_link ended at start-up (exit %s): %s"
                                   % (proc.returncode, self.link_log()))
            ready += chunk
        proc.stdout.close()
        if ready.strip() != b"ready":
            raise FixtureError("hl_delay_link said %r instead of ready" % ready)

    def _stop_forwarder(self) -> None:
        if self._forwarder_pid:
            _stop_process(self._forwarder_pid, self._forwarder_start)
        if self._forwarder is not None:
            try:
                self._forwarder.stdout.close()
            except (OSError, ValueError):
                pass
            # Reaped above; tell Popen so it does not wait again.
            self._forwarder.returncode = self._forwarder.returncode or 0
        self._forwarder = None

    def _write_names(self) -> None:
        directory = os.path.join(ETC_NETNS, self.source_ns)
        os.makedirs(directory, mode=0o755)
        lines = ["127.0.0.1\tlocalhost",
                 "%s\tsrc.%s" % (self.source_address, self.domain)]
        lines += ["%s\t%s" % (r.address, r.name) for r in self.routers]
        lines.append("%s\t%s" % (self.target, self.target_name))
        with open(os.path.join(directory, "hosts"), "w") as f:
            f.write("\n".join(lines) + "\n")
        # Empty: `ip netns exec` mounts it over /etc/resolv.conf, so no DNS
        # server is known and every name comes from the hosts file above.
        with open(os.path.join(directory, "resolv.conf"), "w"):
            pass

    def _wait_ready(self) -> None:
        # Until the kernel has marked a veth running its queue still drops
        # packets; wait for that rather than lose a tracer's first probes.
        deadline = time.monotonic() + READY_WAIT_SECONDS
        pending = []
        for i, name in enumerate(self.namespaces):
            if i >= 1:
                pending.append((name, "w0"))
            if i <= self.router_count:
                pending.append((name, "e0"))
        for name in self.link_namespaces:
            pending += [(name, "w0"), (name, "e0")]
        while True:
            still = []
            for name, dev in pending:
                with _InNamespace(name):
                    flags = _interface_flags(dev)
                if flags & (IFF_UP | IFF_RUNNING) != (IFF_UP | IFF_RUNNING):
                    still.append((name, dev))
            pending = still
            if not pending:
                return
            if time.monotonic() > deadline:
                raise FixtureError("links never came up: " + ", ".join("%s/%s" % p for p in pending))
            time.sleep(0.01)

    # Removing ---------------------------------------------------------------

    def down(self) -> None:
        with _live_lock:
            if not self.is_up:
                return
            try:
                self._stop_forwarder()
                remove_handle(self.handle)
            finally:
                self.is_up = False
                _live.pop(self.handle, None)

    def detach(self, owner: int = 0) -> None:
        """Keeps the namespaces after this process ends (`up` on the command line):
        until `down`, or until process `owner` ends when one is given."""
        _write_owner(self.handle, owner)
        with _live_lock:
            _live.pop(self.handle, None)
            self.is_up = False
            # The forwarder stays with the chain; `down` finds it by its file.
            if self._forwarder is not None:
                try:
                    self._forwarder.stdout.close()
                except (OSError, ValueError):
                    pass
                self._forwarder.returncode = 0  # not ours to wait for any more
            self._forwarder = None

    def __enter__(self) -> "NetnsPath":
        return self.up()

    def __exit__(self, *exc) -> bool:
        self.down()
        return False


# --- command line ----------------------------------------------------------

def _shell_vars(path: NetnsPath) -> dict[str, str]:
    return {
        "NETNS_PATH_HANDLE": path.handle,
        "NETNS_PATH_SRC": path.source_ns,
        "NETNS_PATH_TARGET": path.target,
        "NETNS_PATH_ROUTERS": " ".join(r.address for r in path.routers),
        "NETNS_PATH_JSON": json.dumps(path.describe()),
    }


def _add_build_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("--routers", type=int, default=4, metavar="N",
                   help="routers between source and target (default 4)")
    p.add_argument("--silent", type=int, nargs="+", action="extend", default=[], metavar="K",
                   help="router K (1-based) sends no ICMP; repeatable")
    p.add_argument("--target-silent", action="store_true", help="the target sends no ICMP")
    p.add_argument("--names", action="store_true",
                   help="hosts file with rK.<domain> and target.<domain> for the source namespace")
    p.add_argument("--domain", default=DEFAULT_DOMAIN, help="domain of those names (default path.test)")
    p.add_argument("--icmp-ratelimit", type=int, default=0, metavar="MS",
                   help="net.ipv4.icmp_ratelimit in every namespace (default 0: every probe "
                        "answered; the kernel's own default is 1000)")
    p.add_argument("--kernel-ping-group-range", action="store_true",
                   help="leave net.ipv4.ping_group_range at the kernel default (nobody may use "
                        "ICMP datagram sockets) instead of allowing every group as desktops do")
    emu = p.add_argument_group("emulated links (one value for every link, or a comma-separated "
                               "list with one per link, link 1 first)")
    emu.add_argument("--delay-ms", type=_number_list, default=[0.0], metavar="MS",
                     help="one-way delay of each link, each direction (default 0: a plain veth)")
    emu.add_argument("--jitter-ms", type=_number_list, default=[0.0], metavar="MS",
                     help="delays spread evenly over delay +- jitter")
    emu.add_argument("--loss", type=_number_list, default=[0.0], metavar="FRACTION",
                     help="fraction of frames each link drops, per direction (0..1)")
    emu.add_argument("--link-seed", type=int, default=None, metavar="N",
                     help="seed of jitter and loss, for repeatable runs")
    emu.add_argument("--delay-link", default=None, metavar="PATH",
                     help="the hl_delay_link binary (default $HL_DELAY_LINK or build/tests/pathemu)")
    emu.add_argument("--emulator-lifetime", type=float, default=DEFAULT_EMULATOR_LIFETIME, metavar="S",
                     help="the forwarder ends after S seconds whatever happens (default 3600)")
    lim = p.add_argument_group("ICMP limits of real routers")
    lim.add_argument("--target-icmp-ratelimit", type=int, default=None, metavar="MS",
                     help="net.ipv4.icmp_ratelimit of the target alone (kernel default: 1000)")
    lim.add_argument("--icmp-limit", default=None, metavar="RATE",
                     help="nftables limit on each router's ICMP output, e.g. '10/second burst 5 packets'")
    lim.add_argument("--icmp-limit-routers", type=int, nargs="+", default=None, metavar="K",
                     help="only these routers get --icmp-limit (default all)")


def _number_list(text: str) -> list[float]:
    try:
        return [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("not a number or comma-separated numbers: %r" % text)


def _one_or_list(values: list[float]):
    return values[0] if len(values) == 1 else values


def _path_from_args(args) -> NetnsPath:
    return NetnsPath(routers=args.routers, silent=args.silent, target_silent=args.target_silent,
                     names=args.names, icmp_ratelimit=args.icmp_ratelimit,
                     ping_group_range=None if args.kernel_ping_group_range else DESKTOP_PING_GROUP_RANGE,
                     domain=args.domain,
                     delay_ms=_one_or_list(args.delay_ms), jitter_ms=_one_or_list(args.jitter_ms),
                     loss=_one_or_list(args.loss), link_seed=args.link_seed, delay_link=args.delay_link,
                     emulator_lifetime=args.emulator_lifetime,
                     target_icmp_ratelimit=args.target_icmp_ratelimit, icmp_limit=args.icmp_limit,
                     icmp_limit_routers=args.icmp_limit_routers)


def main(argv: list[str] | None = None) -> int:
    try:
        return _main(argv)
    except KeyboardInterrupt:
        # Everything made is already removed by the signal handler or the
        # with-block; a traceback would only hide the command's own output.
        print("netns-path: interrupted; namespaces removed", file=sys.stderr)
        return 130


def _main(argv: list[str] | None) -> int:
    parser = argparse.ArgumentParser(
        prog="netns-path",
        description="Real kernel routers in network namespaces, for tracing against. "
                    "Exit 77 when this machine cannot host them (not root, no usable `ip netns`).")
    sub = parser.add_subparsers(dest="command", required=True)

    up = sub.add_parser("up", help="build a chain and leave it up; prints how to reach it")
    _add_build_options(up)
    up.add_argument("--json", action="store_true",
                    help="print a JSON object (default: shell assignments for eval)")
    up.add_argument("--owner", type=int, default=0, metavar="PID",
                    help="tie the chain to process PID (e.g. the calling test, $$ in a shell): "
                         "should it die without `down`, the next chain built removes this one")

    down = sub.add_parser("down", help="remove a chain made by `up`")
    down.add_argument("handles", nargs="*", metavar="HANDLE")
    down.add_argument("--all", action="store_true",
                      help="remove every chain this fixture made, including other runs' ones")
    down.add_argument("--stale", action="store_true",
                      help="remove the chains whose owning process has ended")

    run = sub.add_parser("run", help="build a chain, run a command, remove the chain")
    _add_build_options(run)
    run.add_argument("--inside", action="store_true",
                     help="run the command inside the source namespace; without it it runs "
                          "outside with NETNS_PATH_* in its environment")
    run.add_argument("cmd", nargs=argparse.REMAINDER,
                     help="command; {target}, {src} and {handle} in it are replaced")

    sub.add_parser("list", help="list chains that exist now")

    args = parser.parse_args(argv)

    if args.command == "list":
        for handle in all_handles():
            print(handle, " ".join(namespaces_of(handle)))
        return 0

    if args.command == "down":
        if args.stale:
            for handle in remove_stale():
                print("removed %s" % handle)
            if not args.handles and not args.all:
                return 0
        if not args.handles and not args.all:
            parser.error("down needs a HANDLE, --all or --stale")
        handles = all_handles() if args.all else args.handles
        status = 0
        for handle in handles:
            if not HANDLE_RE.match(handle):
                print("netns-path: not a fixture handle: %r" % handle, file=sys.stderr)
                status = 2
                continue
            try:
                remove_handle(handle)
            except FixtureError as exc:
                print("netns-path: %s" % exc, file=sys.stderr)
                status = 1
        return status

    try:
        path = _path_from_args(args)
    except ValueError as exc:
        parser.error(str(exc))

    if args.command == "run":
        cmd = args.cmd[1:] if args.cmd[:1] == ["--"] else args.cmd
        if not cmd:
            parser.error("run needs a command after --")
    if args.command == "up" and args.owner and _process_start(args.owner) is None:
        parser.error("--owner %d: no such process" % args.owner)
    if args.command == "up":
        # The chain outlives this command: its forwarder follows --owner, or nobody.
        path.emulator_owner = args.owner
    try:
        path.up()
    except FixtureUnavailable as exc:
        print("netns-path: skipped: %s" % exc, file=sys.stderr)
        return SKIP_EXIT
    except FixtureError as exc:
        print("netns-path: %s" % exc, file=sys.stderr)
        return 1

    if args.command == "up":
        path.detach(args.owner)
        if args.json:
            print(json.dumps(path.describe(), indent=2))
        else:
            for key, value in _shell_vars(path).items():
                print("%s=%s" % (key, shlex.quote(value)))
        return 0

    with path:
        values = {"target": path.target, "src": path.source_ns, "handle": path.handle}
        cmd = [part.replace("{target}", values["target"]).replace("{src}", values["src"])
               .replace("{handle}", values["handle"]) for part in cmd]
        if args.inside:
            cmd = path.exec_args(*cmd)
        env = dict(os.environ, **_shell_vars(path))
        # Known to the signal handler, which ends it before removing the
        # namespaces: nothing of the run outlives the chain it ran on. A signal
        # between starting the child and recording it would miss it, so the
        # signals wait until it is recorded (the child itself takes them at once).
        stoppers = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        signal.pthread_sigmask(signal.SIG_BLOCK, stoppers)
        try:
            child = subprocess.Popen(cmd, env=env,
                                     preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_UNBLOCK, stoppers))
            _children.add(child)
        except OSError as exc:
            print("netns-path: cannot run %s: %s" % (cmd[0], exc), file=sys.stderr)
            return 127 if exc.errno == errno.ENOENT else 126
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, stoppers)
        try:
            return child.wait()
        finally:
            _children.discard(child)


if __name__ == "__main__":
    sys.exit(main())
