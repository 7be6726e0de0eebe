"""A path of real Linux routers in network namespaces, for tracing against.

    src --- r1 --- r2 ... rN --- target

Link k (1 = src--r1) uses 198.18.k.0/24 and 2001:db8:0:k::/64; the end nearer the
source is .1 (::1), the far end .2 (::2).  So the source is 198.18.1.1, router k
answers from 198.18.k.2 (its interface facing the source) and the target is
198.18.(N+1).2.  The source namespace routes only 198.18.0.0/15 and 2001:db8::/32,
into r1, and nothing connects the path to the machine's own interfaces, so a
tracer run inside it cannot reach anything else.  198.19.0.0/16 and
2001:db8:ffff::/48 are routed from the source but exist nowhere: r1 answers
"network unreachable" for them (IPv4: only a few in a row, a machine-wide budget).

With `ecmp=K` router K splits the path: hops K+1 and K+2 are two equal-cost
branches of two routers each (rK+1a, rK+2a and rK+1b, rK+2b), router K+3 joins
them; links are then numbered in order of hop, branch a first.  The routers hash
the 5-tuple, so each flow keeps its branch.

Slow links (`delay_ms`, `jitter_ms`, `loss`, `late_icmp`) put a namespace of their
own, <handle>-dK, between the two ends of link K, where tools/hl_delay_link holds
every frame for its delay (the kernels here have no netem).
"""

from __future__ import annotations

import json
import os
import re
import secrets
import select
import signal
import subprocess
import sys
import time

from . import lifetime
from .lifetime import FixtureError, link_file
from .namespaces import PREFIX, InNamespace, interface_running, unavailable_reason, write_sysctl


class FixtureUnavailable(Exception):
    """This machine cannot host paths (no root, no usable `ip netns`)."""


DOMAIN = "path.test"
FAMILIES = ("4", "6", "dual")
MAX_LINKS = 254                       # link k's subnet number stays a byte
UNROUTED_ADDRESS = "198.19.0.1"
UNROUTED_ADDRESS6 = "2001:db8:ffff::1"
# With the per-destination ICMP limit off the namespace-wide bucket must not bite
# either, so a fast tracer sees every answer.
UNLIMITED_MSGS = 1000000
READY_WAIT_SECONDS = 10.0
DELAY_LINK_ENV = "HL_DELAY_LINK"
DELAY_LINK_READY_SECONDS = 10.0
# Example: "10/second burst 5 packets" -- an nftables limit on a router's ICMP output.
ICMP_LIMIT_RE = re.compile(r"^\d+/(second|minute|hour|day)( burst \d+ packets)?$")
# What a silent router or target drops on the way out: every ICMP answer.  IPv6
# keeps neighbour discovery, without which nothing would cross it at all.
ICMP_MATCH = {"ip": "ip protocol icmp",
              "ip6": "icmpv6 type { destination-unreachable, packet-too-big, time-exceeded, "
                     "parameter-problem, echo-reply }"}
REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def v4(link: int, end: int) -> str:
    return "198.18.%d.%d" % (link, end)


def v6(link: int, end: int) -> str:
    return "2001:db8:0:%d::%d" % (link, end)


def _mac(link: int, end: int) -> str:
    return "02:68:6c:%02x:%02x:%02x" % (link >> 8, link & 0xFF, end)


class Router:
    """Router at hop `hop` (branch 'a'/'b' inside an ECMP split, else '')."""

    def __init__(self, hop: int, branch: str, ns: str):
        self.hop, self.branch, self.ns = hop, branch, ns
        self.key = "r%d%s" % (hop, branch)
        self.address = self.address6 = self.far_address = None
        self.name = None
        self.silent = False

    def as_dict(self) -> dict:
        return {k: getattr(self, k) for k in ("hop", "branch", "ns", "address", "address6", "far_address",
                                              "name", "silent")}


def find_delay_link() -> str | None:
    """The delaying link: $HL_DELAY_LINK, or build/tools/hl_delay_link of this checkout."""
    for c in (os.environ.get(DELAY_LINK_ENV, ""), os.path.join(REPO_ROOT, "build", "tools", "hl_delay_link")):
        if c and os.path.isfile(c) and os.access(c, os.X_OK):
            return os.path.abspath(c)
    return None


class NetnsPath:
    """`with NetnsPath(routers=4, silent=[2], names=True) as path:` builds and removes a path.

      family          -- "4", "6" or "dual" (both on the same path).
      silent, target_silent -- routers (hop numbers) / the target that send no ICMP.
      names           -- a hosts file for the source: rK.path.test, target.path.test.
      icmp_ratelimit  -- ms, every namespace (0: every probe answered; kernel: 1000).
      target_icmp_ratelimit -- the same for the target alone.
      icmp_limit, icmp_limit_routers -- nftables rate on routers' ICMP output
                         ("1/second burst 1 packets"); beyond it they are silent.
      ecmp            -- K: router K splits into two branches (see the module).
    Slow links, each a number for every link or a list with one per link:
      delay_ms, jitter_ms -- one way, each direction, spread evenly over delay +- jitter;
      loss            -- fraction of frames dropped; link_seed -- repeatable draws;
      late_icmp       -- {hop: ms}: the ICMP that router sends leaves ms late.
      delay_link, emulator_lifetime, emulator_owner -- the forwarder binary, how
                         long it lives at most, and the pid whose end stops it.
    """

    def __init__(self, routers: int = 4, silent=(), target_silent: bool = False, names: bool = False,
                 icmp_ratelimit: int = 0, family: str = "4", ecmp: int | None = None,
                 delay_ms=0.0, jitter_ms=0.0, loss=0.0, late_icmp=None, delay_link: str | None = None,
                 link_seed: int | None = None, emulator_lifetime: float = 3600.0,
                 emulator_owner: int | None = None, target_icmp_ratelimit: int | None = None,
                 icmp_limit: str | None = None, icmp_limit_routers=None):
        if family not in FAMILIES:
            raise ValueError("family is one of %s, not %r" % (", ".join(FAMILIES), family))
        if ecmp is not None and not 1 <= ecmp <= routers - 3:
            raise ValueError("ecmp %d: the splitting router needs three more routers after it (1..%d)"
                             % (ecmp, routers - 3))
        if not 0 <= routers <= MAX_LINKS - (4 if ecmp else 1):
            raise ValueError("routers must be between 0 and %d" % (MAX_LINKS - (4 if ecmp else 1)))
        for what, v in (("icmp_ratelimit", icmp_ratelimit), ("target_icmp_ratelimit", target_icmp_ratelimit)):
            if v is not None and v < 0:
                raise ValueError("%s cannot be negative" % what)
        if icmp_limit is not None and not ICMP_LIMIT_RE.match(icmp_limit):
            raise ValueError("icmp_limit is an nftables rate like '10/second burst 5 packets', not %r"
                             % icmp_limit)
        if not emulator_lifetime > 0:
            raise ValueError("emulator_lifetime must be positive")
        self.router_count, self.family, self.ecmp = routers, family, ecmp
        self.silent = self._hops(silent, "silent router")
        self.target_silent, self.names = target_silent, names
        self.icmp_ratelimit, self.target_icmp_ratelimit = icmp_ratelimit, target_icmp_ratelimit
        self.icmp_limit = icmp_limit
        limited = range(1, routers + 1) if icmp_limit_routers is None else icmp_limit_routers
        self.icmp_limit_routers = self._hops(limited, "icmp_limit router") if icmp_limit else []
        self.late_icmp = {h: float(ms) for h, ms in (late_icmp or {}).items()}
        for h, ms in self.late_icmp.items():
            self._hops([h], "late_icmp router")
            if not ms >= 0:
                raise ValueError("late_icmp of router %d must be 0 or more ms, not %r" % (h, ms))
        self.delay_link, self.link_seed = delay_link, link_seed
        self.emulator_lifetime, self.emulator_owner = float(emulator_lifetime), emulator_owner
        self.handle = ""
        self.is_up = False
        self._layout()
        n = len(self.links)
        self.link_delay_ms = self._per_link(delay_ms, n, "delay_ms")
        self.link_jitter_ms = self._per_link(jitter_ms, n, "jitter_ms")
        self.link_loss = self._per_link(loss, n, "loss", top=1.0)
        self._forwarder: subprocess.Popen | None = None  # only while this process owns it
        self._forwarder_pid: int | None = None
        self._forwarder_start: str | None = None
        self._up_owner: int | None = None

    def _hops(self, hops, what: str) -> list[int]:
        hops = sorted(set(int(k) for k in hops))
        for k in hops:
            if not 1 <= k <= self.router_count:
                raise ValueError("%s %d is not in 1..%d" % (what, k, self.router_count))
        return hops

    @staticmethod
    def _per_link(value, n: int, what: str, top: float | None = None) -> list[float]:
        values = [float(v) for v in value] if isinstance(value, (list, tuple)) else [float(value)] * n
        if len(values) != n:
            raise ValueError("%s: %d values given for %d links" % (what, len(values), n))
        for v in values:
            if not v >= 0 or (top is not None and v > top):
                raise ValueError("%s must be between 0 and %s, not %r" % (what, top if top else "inf", v))
        return values

    # The graph --------------------------------------------------------------

    def _layout(self) -> None:
        """Nodes (keys "src", "rK", "rKa", "target") by hop, and links in order of hop.
        Names depend on the handle, so keys stand for namespaces until `up`."""
        split = set()
        if self.ecmp:
            split = {self.ecmp + 1, self.ecmp + 2}
        by_hop = [[("src", "")]]
        for hop in range(1, self.router_count + 1):
            by_hop.append([("r%d%s" % (hop, b), b) for b in (("a", "b") if hop in split else ("",))])
        by_hop.append([("target", "")])
        self.node_keys = [k for nodes in by_hop for k, _ in nodes]
        self.hop_of = {k: h for h, nodes in enumerate(by_hop) for k, _ in nodes}
        self.branch_of = {k: b for nodes in by_hop for k, b in nodes}
        # link = (k, west node, east node): the node east of the link is .2, west .1.
        # A branch joins only itself, and both branches the nodes around the split.
        self.links = []
        for hop in range(1, len(by_hop)):
            for east, eb in by_hop[hop]:
                for west, wb in by_hop[hop - 1]:
                    if not eb or not wb or eb == wb:
                        self.links.append((len(self.links) + 1, west, east))
        # Interfaces: wI towards the source, eI towards the target, in link order.
        self.ifname = {}
        count = {}
        for k, west, east in self.links:
            for node, side in ((west, "e"), (east, "w")):
                i = count.get((node, side), 0)
                count[node, side] = i + 1
                self.ifname[k, node] = "%s%d" % (side, i)

    def _routes(self, node: str) -> list[str]:
        """ip-batch lines: every other link's subnet via the neighbours nearest to it,
        all of them where two are equally near (ECMP)."""
        neighbours = {}  # node -> [(neighbour, link)]
        for k, w, e in self.links:
            neighbours.setdefault(w, []).append((e, k))
            neighbours.setdefault(e, []).append((w, k))

        def distances(start):
            dist, todo = {start: 0}, [start]
            for n in todo:
                for m, _ in neighbours.get(n, []):
                    if m not in dist:
                        dist[m] = dist[n] + 1
                        todo.append(m)
            return dist
        dist = {n: distances(n) for n in self.node_keys}
        lines = []
        for k, w, e in self.links:
            if node in (w, e):
                continue
            near = lambda n: min(dist[n][w], dist[n][e])  # noqa: E731
            hops = [(m, link) for m, link in neighbours[node] if near(m) == near(node) - 1]
            for fam in self._families():
                addr = v4 if fam == "ip" else v6
                gateways = [addr(link, 2 if self._east_of(link) == m else 1) for m, link in hops]
                subnet = "198.18.%d.0/24" % k if fam == "ip" else "2001:db8:0:%d::/64" % k
                if len(gateways) == 1:
                    lines.append("route add %s via %s" % (subnet, gateways[0]))
                else:
                    lines.append("route add %s %s" % (subnet, " ".join("nexthop via " + g for g in gateways)))
        return lines

    def _east_of(self, link: int) -> str:
        return self.links[link - 1][2]

    def _families(self) -> list[str]:
        return {"4": ["ip"], "6": ["ip6"], "dual": ["ip", "ip6"]}[self.family]

    # Names and addresses --------------------------------------------------------

    def ns(self, key: str) -> str:
        return "%s-%s" % (self.handle, key)

    @property
    def source_ns(self) -> str:
        return self.ns("src")

    @property
    def target_ns(self) -> str:
        return self.ns("target")

    @property
    def source_address(self) -> str:
        return v6(1, 1) if self.family == "6" else v4(1, 1)

    @property
    def source_address6(self) -> str | None:
        return v6(1, 1) if self.family != "4" else None

    @property
    def target(self) -> str:
        return v6(len(self.links), 2) if self.family == "6" else v4(len(self.links), 2)

    @property
    def target6(self) -> str | None:
        return v6(len(self.links), 2) if self.family != "4" else None

    @property
    def target_name(self) -> str | None:
        return "target." + DOMAIN if self.names else None

    @property
    def unrouted_address(self) -> str:
        return UNROUTED_ADDRESS6 if self.family == "6" else UNROUTED_ADDRESS

    def _address(self, key: str, fam: str) -> str | None:
        """The node's address on its first link towards the source: where its ICMP comes from."""
        if fam not in self._families():
            return None
        k = next(k for k, _, e in self.links if e == key)
        return (v4 if fam == "ip" else v6)(k, 2)

    @property
    def routers(self) -> list[Router]:
        """Every router, by hop (branch a before b)."""
        out = []
        for key in self.node_keys[1:-1]:
            r = Router(self.hop_of[key], self.branch_of[key], self.ns(key))
            r.address = self._address(key, self._families()[0])
            r.address6 = self._address(key, "ip6")
            k = next(k for k, w, _ in self.links if w == key)
            r.far_address = v6(k, 1) if self.family == "6" else v4(k, 1)
            r.name = "%s.%s" % (key, DOMAIN) if self.names else None
            r.silent = r.hop in self.silent
            out.append(r)
        return out

    def hop_addresses(self, hop: int, fam: str = "") -> set[str]:
        """Addresses that may answer for hop `hop`: one per link into it (more than
        one inside an ECMP split, and at the router joining it)."""
        addr = v6 if (fam or self._families()[0]) == "ip6" else v4
        return {addr(k, 2) for k, _, e in self.links if self.hop_of[e] == hop}

    @property
    def namespaces(self) -> list[str]:
        return [self.ns(k) for k in self.node_keys]

    def exec_args(self, *command: str) -> list[str]:
        """argv that runs `command` inside the source namespace."""
        return ["ip", "netns", "exec", self.source_ns, *command]

    @property
    def hosts_file(self) -> str | None:
        return os.path.join(lifetime.ETC_NETNS, self.source_ns, "hosts") if self.names else None

    # Emulated links -------------------------------------------------------------

    def _late_icmp_args(self, k: int) -> list[str]:
        """--late-icmp for link k: the ICMP its east router sends towards the source."""
        east = self._east_of(k)
        ms = self.late_icmp.get(self.hop_of[east]) if east != "target" else None
        if not ms:
            return []
        return [arg for fam, addr in (("ip", v4), ("ip6", v6)) if fam in self._families()
                for arg in ("--late-icmp", "%s:%s:%g" % (self.link_ns(k), addr(k, 2), ms))]

    def link_emulated(self, k: int) -> bool:
        i = k - 1
        return bool(self.link_delay_ms[i] or self.link_jitter_ms[i] or self.link_loss[i]
                    or self._late_icmp_args(k))

    @property
    def emulated(self) -> bool:
        return any(self.link_emulated(k) for k, _, _ in self.links)

    def link_ns(self, k: int) -> str:
        return self.ns("d%d" % k)

    @property
    def link_namespaces(self) -> list[str]:
        return [self.link_ns(k) for k, _, _ in self.links if self.link_emulated(k)]

    def rtt_ms(self, hop: int) -> float:
        """Emulated round trip to hop `hop` (the target is routers+1), jitter left
        out; inside an ECMP split along branch a."""
        if not 1 <= hop <= self.router_count + 1:
            raise ValueError("hop %d is not on this path" % hop)
        return 2.0 * sum(self.link_delay_ms[k - 1] for k, _, e in self.links
                         if self.hop_of[e] <= hop and self.branch_of[e] != "b")

    @property
    def forwarder_pid(self) -> int | None:
        return self._forwarder_pid

    def link_log(self) -> str:
        """What the forwarder wrote to stderr (warnings, the reason it failed)."""
        try:
            with open(link_file(self.handle, "log"), errors="replace") as f:
                return f.read().strip()
        except OSError:
            return ""

    def link_stats(self) -> dict | None:
        """The forwarder's counters per link and direction (received, forwarded, lost,
        late_mean_us, late_max_us ...), fresh; None without emulated links."""
        if not self.emulated or not self.handle:
            return None
        stats = link_file(self.handle, "stats.json")
        mtime = lambda: os.stat(stats).st_mtime_ns if os.path.exists(stats) else 0  # noqa: E731
        if self._forwarder_pid:
            before = mtime()
            os.kill(self._forwarder_pid, signal.SIGUSR1)
            deadline = time.monotonic() + 2.0
            while mtime() == before and time.monotonic() < deadline:
                time.sleep(0.002)
        try:
            with open(stats) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    def describe(self) -> dict:
        return {
            "handle": self.handle, "family": self.family,
            "source_ns": self.source_ns, "source_address": self.source_address,
            "source_address6": self.source_address6,
            "target_ns": self.target_ns, "target": self.target, "target6": self.target6,
            "target_name": self.target_name, "target_silent": self.target_silent,
            "routers": [r.as_dict() for r in self.routers],
            "namespaces": self.namespaces, "unrouted_address": self.unrouted_address,
            "hosts_file": self.hosts_file,
            # Runs from any folder: python3 runs the package's folder as a program.
            "down": [sys.executable, os.path.dirname(os.path.abspath(__file__)), "down", self.handle],
            "links": [{"link": k, "ns": self.link_ns(k) if self.link_emulated(k) else None,
                       "delay_ms": self.link_delay_ms[k - 1], "jitter_ms": self.link_jitter_ms[k - 1],
                       "loss": self.link_loss[k - 1]} for k, _, _ in self.links],
            "link_namespaces": self.link_namespaces,
            "delay_link_pid": self.forwarder_pid,
            "link_stats_file": link_file(self.handle, "stats.json") if self.emulated else None,
        }

    # Building ---------------------------------------------------------------------

    def up(self, owner: int | None = None) -> "NetnsPath":
        """Builds the path.  `owner`: the pid whose death makes it stale (default this process)."""
        if self.is_up:
            return self
        reason = unavailable_reason(need_nft=bool(self.silent or self.target_silent or self.icmp_limit))
        if reason:
            raise FixtureUnavailable(reason)
        with lifetime.live_lock:
            lifetime.install_handlers()
            lifetime.remove_stale()
            while True:
                self.handle = PREFIX + secrets.token_hex(4)
                if self.handle not in lifetime.all_handles():
                    break
            # Registered before anything exists, so a signal or crash at any point
            # below still removes whatever was made.
            lifetime.live[self.handle] = self
            self.is_up = True
        self._up_owner = owner
        try:
            lifetime.write_owner(self.handle, os.getpid() if owner is None else owner)
            self._build()
        except BaseException:
            self.down()
            raise
        return self

    def _build(self) -> None:
        ns = self.namespaces
        lifetime.run_batches([(["ip", "-batch", "-"],
                               "".join("netns add %s\n" % n for n in ns + self.link_namespaces))])
        self._sysctls()
        # Each veth end is created straight inside its namespace, so the short names
        # cannot clash with the machine's own.  Explicit interface indexes keep the
        # two ends of a pair different: left alone both get index 2 in their fresh
        # namespaces, the kernel files their carrier change as not urgent, and the
        # link only passes packets about a second later.
        lines = []
        for k, west, east in self.links:
            w_if, e_if = self.ifname[k, west], self.ifname[k, east]
            ends = "address %s netns %s" % (_mac(k, 1), self.ns(west)), "address %s netns %s" % (_mac(k, 2), self.ns(east))
            if not self.link_emulated(k):
                lines.append("link add name %s index %d %s type veth peer name %s index %d %s"
                             % (w_if, 100 + 2 * k, ends[0], e_if, 101 + 2 * k, ends[1]))
            else:  # west -- (w0 dK e0) -- east; the forwarder in dK joins w0 and e0
                lines.append("link add name %s index %d %s type veth peer name w0 index %d netns %s"
                             % (w_if, 100 + 2 * k, ends[0], 2000 + 2 * k, self.link_ns(k)))
                lines.append("link add name e0 index %d netns %s type veth peer name %s index %d %s"
                             % (2001 + 2 * k, self.link_ns(k), e_if, 101 + 2 * k, ends[1]))
        lifetime.run_batches([(["ip", "-batch", "-"], "\n".join(lines) + "\n")])
        self._nftables()
        if self.names:
            self._write_names()
        # Addresses, links and routes: one `ip -batch` per namespace, all at once.
        jobs = []
        for key in self.node_keys:
            cmds = ["link set lo up"]
            for k, west, east in self.links:
                if key not in (west, east):
                    continue
                end, other = (1, 2) if key == west else (2, 1)
                dev = self.ifname[k, key]
                for fam in self._families():
                    addr = (v4 if fam == "ip" else v6)
                    cmds.append("addr add %s/%d dev %s%s" % (addr(k, end), 24 if fam == "ip" else 64, dev,
                                                              "" if fam == "ip" else " nodad"))
                    if self.emulated:
                        # No neighbour discovery across a slow link: the first probe of a
                        # trace costs one round trip like every later one, as on a path in use.
                        cmds.append("neigh replace %s lladdr %s dev %s nud permanent"
                                    % (addr(k, other), _mac(k, other), dev))
                cmds.append("link set %s up" % dev)
            if key == "src":
                # Only the test ranges, and only into r1: a probe can never leave the path.
                for fam in self._families():
                    cmds.append("route add 198.18.0.0/15 via %s" % v4(1, 2) if fam == "ip"
                                else "route add 2001:db8::/32 via %s" % v6(1, 2))
            else:
                cmds += self._routes(key)
            jobs.append((["ip", "-n", self.ns(key), "-batch", "-"], "\n".join(cmds) + "\n"))
        for name in self.link_namespaces:
            jobs.append((["ip", "-n", name, "-batch", "-"], "link set w0 up\nlink set e0 up\n"))
        lifetime.run_batches(jobs)
        self._wait_ready()
        if self.emulated:
            self._start_forwarder()

    def _sysctls(self) -> None:
        """Before any link exists, so forwarding, the ICMP limits and no duplicate
        address detection hold from the first packet."""
        fams = self._families()
        for key in self.node_keys:
            limit = self.icmp_ratelimit
            if key == "target" and self.target_icmp_ratelimit is not None:
                limit = self.target_icmp_ratelimit
            with InNamespace(self.ns(key)):
                router = key not in ("src", "target")
                write_sysctl("net.ipv4.ip_forward", int(router and "ip" in fams))
                write_sysctl("net.ipv4.icmp_ratelimit", limit)
                # The namespace-wide bucket: out of the way with no per-destination
                # limit, the kernel's own (1000/s, burst 50) with one.
                write_sysctl("net.ipv4.icmp_msgs_per_sec", UNLIMITED_MSGS if limit == 0 else 1000, required=False)
                write_sysctl("net.ipv4.icmp_msgs_burst", UNLIMITED_MSGS if limit == 0 else 50, required=False)
                if key == "src":
                    # As systemd sets on desktops, so unprivileged ICMP sockets work here.
                    write_sysctl("net.ipv4.ping_group_range", "0 2147483647")
                if self.ecmp:
                    # Hash the 5-tuple, so a flow keeps its branch. Not policy 1: that
                    # takes a hash the sender's socket already put on the packet (random
                    # per socket), which a veth hands over unchanged, so every probe of
                    # a traceroute would pick a branch of its own.
                    for fam in ("ipv4", "ipv6"):
                        write_sysctl("net.%s.fib_multipath_hash_policy" % fam, 3)
                        write_sysctl("net.%s.fib_multipath_hash_fields" % fam, 0x37)
                if "ip6" in fams:
                    for conf in ("all", "default"):
                        write_sysctl("net.ipv6.conf.%s.accept_dad" % conf, 0)
                        write_sysctl("net.ipv6.conf.%s.forwarding" % conf, int(router))
                    write_sysctl("net.ipv6.icmp.ratelimit", limit)
                elif self.emulated:
                    # IPv4 only: without IPv6 announcements every frame a slow link
                    # carries is one a test or tracer sent, and its counters add up.
                    write_sysctl("net.ipv6.conf.all.disable_ipv6", 1, required=False)
                    write_sysctl("net.ipv6.conf.default.disable_ipv6", 1, required=False)
        for name in self.link_namespaces:
            with InNamespace(name):
                # Only the forwarder moves frames across.
                write_sysctl("net.ipv4.ip_forward", 0)
                write_sysctl("net.ipv6.conf.all.disable_ipv6", 1, required=False)
                write_sysctl("net.ipv6.conf.default.disable_ipv6", 1, required=False)

    def _nftables(self) -> None:
        # Silent hops: the kernel still makes its answer and nftables drops it on the
        # way out, like a filtering router; the counter lets a test prove that an
        # answer was made and dropped rather than wait for it.  icmp_limit: a router's
        # own limit on the ICMP it makes (control plane policing).
        rules = {}
        for r in self.routers:
            if r.silent:
                rules.setdefault(r.ns, []).append(("hoplantern_fixture", ""))
            if r.hop in self.icmp_limit_routers:
                rules.setdefault(r.ns, []).append(("hoplantern_icmp_limit", "limit rate over %s " % self.icmp_limit))
        if self.target_silent:
            rules.setdefault(self.target_ns, []).append(("hoplantern_fixture", ""))
        jobs = []
        for name, tables in rules.items():
            text = "".join("table %s %s {\n  chain output {\n    type filter hook output priority 0; policy accept;\n"
                           "    %s %scounter drop\n  }\n}\n" % (fam, table, ICMP_MATCH[fam], limit)
                           for table, limit in tables for fam in self._families())
            jobs.append((["ip", "netns", "exec", name, "nft", "-f", "-"], text))
        lifetime.run_batches(jobs)

    def _write_names(self) -> None:
        directory = os.path.join(lifetime.ETC_NETNS, self.source_ns)
        os.makedirs(directory, mode=0o755)
        lines = ["127.0.0.1\tlocalhost"]
        for fam in self._families():
            addr = v4 if fam == "ip" else v6
            lines.append("%s\tsrc.%s" % (addr(1, 1), DOMAIN))
            lines += ["%s\t%s" % (self._address(r.key, fam), r.name) for r in self.routers]
            lines.append("%s\t%s" % (self._address("target", fam), self.target_name))
        with open(os.path.join(directory, "hosts"), "w") as f:
            f.write("\n".join(lines) + "\n")
        # Empty: `ip netns exec` mounts it over /etc/resolv.conf, so no DNS server is
        # known and every name comes from the hosts file above.
        open(os.path.join(directory, "resolv.conf"), "w").close()

    def _wait_ready(self) -> None:
        # Until the kernel has marked a veth running its queue still drops packets.
        pending = [(self.ns(key), dev) for (k, key), dev in self.ifname.items()]
        pending += [(n, dev) for n in self.link_namespaces for dev in ("w0", "e0")]
        deadline = time.monotonic() + READY_WAIT_SECONDS
        while pending:
            still = []
            for name, dev in pending:
                with InNamespace(name):
                    if not interface_running(dev):
                        still.append((name, dev))
            pending = still
            if pending and time.monotonic() > deadline:
                raise FixtureError("links never came up: " + ", ".join("%s/%s" % p for p in pending))
            if pending:
                time.sleep(0.01)

    def _start_forwarder(self) -> None:
        binary = self.delay_link or find_delay_link()
        if not binary:
            raise FixtureError("hl_delay_link not found: build it (cmake --build build --target hl_delay_link) "
                               "or set %s" % DELAY_LINK_ENV)
        owner = self.emulator_owner
        if owner is None:
            owner = os.getpid() if self._up_owner is None else self._up_owner
        args = [binary, "--stats", link_file(self.handle, "stats.json"),
                "--max-seconds", "%g" % self.emulator_lifetime]
        if owner:
            args += ["--owner", str(owner)]
        if self.link_seed is not None:
            args += ["--seed", str(self.link_seed)]
        for k, _, _ in self.links:
            if self.link_emulated(k):
                i = k - 1
                args += ["--link", "%s:w0:e0:%g:%g:%g" % (self.link_ns(k), self.link_delay_ms[i],
                                                         self.link_jitter_ms[i], self.link_loss[i])]
                args += self._late_icmp_args(k)
        os.makedirs(lifetime.OWNERS_DIR, exist_ok=True)
        # Its messages go to a file: it may outlive this process (`up`) and must not
        # hold a caller's pipe open meanwhile.
        with open(link_file(self.handle, "log"), "wb") as log:
            proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
        self._forwarder, self._forwarder_pid = proc, proc.pid
        self._forwarder_start = lifetime.process_start(proc.pid)
        # Recorded before waiting for it, so `down` from anywhere can stop it.
        lifetime.write_json(link_file(self.handle, "pid"), {"pid": proc.pid, "start": self._forwarder_start})
        ready = b""
        deadline = time.monotonic() + DELAY_LINK_READY_SECONDS
        while not ready.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([proc.stdout], [], [], left)[0]:
                raise FixtureError("hl_delay_link did not come up within %gs: %s"
                                   % (DELAY_LINK_READY_SECONDS, self.link_log()))
            chunk = os.read(proc.stdout.fileno(), 64)
            if not chunk:
                proc.wait()
                raise FixtureError("hl_delay_link ended at start-up (exit %s): %s" % (proc.returncode, self.link_log()))
            ready += chunk
        if ready.strip() != b"ready":
            raise FixtureError("hl_delay_link said %r instead of ready" % ready)
        self._let_go_of_forwarder()

    def _let_go_of_forwarder(self) -> None:
        """It is stopped by pid and start time (or by its owner's end), never waited for here."""
        if self._forwarder is not None:
            self._forwarder.stdout.close()
            self._forwarder.returncode = 0
        self._forwarder = None

    # Removing -----------------------------------------------------------------------

    def down(self) -> None:
        with lifetime.live_lock:
            if not self.is_up:
                return
            try:
                if self._forwarder_pid:
                    lifetime.stop_process(self._forwarder_pid, self._forwarder_start)
                self._let_go_of_forwarder()
                lifetime.remove_handle(self.handle)
            finally:
                self.is_up = False
                lifetime.live.pop(self.handle, None)

    def detach(self, owner: int = 0) -> None:
        """Keeps the path after this process ends (`up` on the command line): until
        `down`, or until process `owner` ends when one is given."""
        lifetime.write_owner(self.handle, owner)
        with lifetime.live_lock:
            lifetime.live.pop(self.handle, None)
            self.is_up = False

    def __enter__(self) -> "NetnsPath":
        return self.up()

    def __exit__(self, *exc) -> bool:
        self.down()
        return False
