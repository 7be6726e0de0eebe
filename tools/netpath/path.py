"""A path of real Linux routers in network namespaces, for tracing against.

    src --- r1 --- r2 ... rN --- target

Link k (1 = src--r1) uses 198.18.k.0/24 and 2001:db8:0:k::/64, .1 (::1) at the end
nearer the source; router k answers from 198.18.k.2.  The source routes only
198.18.0.0/15 and 2001:db8::/32, into r1, and nothing connects the path to the
machine's own interfaces.  ECMP branches and slow links: see tools/README.md.
"""

from __future__ import annotations

import dataclasses
import json
import os
import re
import secrets
import select
import signal
import subprocess
import sys
import time
from typing import NamedTuple

from . import lifetime
from .lifetime import FixtureError, link_file
from .namespaces import PREFIX, InNamespace, interface_running, unavailable_reason, write_sysctls


class FixtureUnavailable(Exception):
    """This machine cannot host paths (no root, no usable `ip netns`)."""


class Family(NamedTuple):
    address: str   # % (link, end)
    subnet: str    # % link
    flags: str     # of `ip addr add`
    routed: str    # all the source routes, into r1
    unrouted: str  # routed from the source, assigned nowhere
    icmp: str      # nftables match of the ICMP answers a silent node drops


# Keyed by nftables family.  IPv6 keeps neighbour discovery, without which nothing
# would cross a silent node at all.
FAMILY = {
    "ip": Family("198.18.%d.%d", "198.18.%d.0/24", "/24", "198.18.0.0/15", "198.19.0.1", "ip protocol icmp"),
    "ip6": Family("2001:db8:0:%d::%d", "2001:db8:0:%d::/64", "/64 nodad", "2001:db8::/32", "2001:db8:ffff::1",
                  "icmpv6 type { destination-unreachable, packet-too-big, time-exceeded, "
                  "parameter-problem, echo-reply }"),
}
FAMILIES = {"4": ("ip",), "6": ("ip6",), "dual": ("ip", "ip6")}
DOMAIN = "path.test"
MAX_LINKS = 254  # link k's subnet number stays a byte
# With the per-destination ICMP limit off the namespace-wide bucket must not bite
# either, so a fast tracer sees every answer.
UNLIMITED_MSGS = 1000000
READY_SECONDS = 10.0
LINK_MAX_SECONDS = 3600  # the delaying link ends by itself after this at the latest
DELAY_LINK_ENV = "HL_DELAY_LINK"
# Example: "10/second burst 5 packets" -- an nftables limit on a router's ICMP output.
ICMP_LIMIT_RE = re.compile(r"^\d+/(second|minute|hour|day)( burst \d+ packets)?$")
REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _mac(link: int, end: int) -> str:
    return "02:68:6c:%02x:%02x:%02x" % (link >> 8, link & 0xFF, end)


@dataclasses.dataclass
class Router:
    """Router at hop `hop` (branch 'a'/'b' inside an ECMP split, else '')."""
    hop: int
    branch: str
    ns: str
    address: str         # where its ICMP comes from: its link towards the source
    address6: str | None
    far_address: str     # its end of the link towards the target
    name: str | None
    silent: bool


def find_delay_link() -> str | None:
    """The delaying link: $HL_DELAY_LINK, or build/tools/hl_delay_link of this checkout."""
    for c in (os.environ.get(DELAY_LINK_ENV, ""), os.path.join(REPO_ROOT, "build", "tools", "hl_delay_link")):
        if c and os.path.isfile(c) and os.access(c, os.X_OK):
            return os.path.abspath(c)
    return None


class NetnsPath:
    """`with NetnsPath(routers=4, silent=[2], names=True) as path:` builds and removes a path.

    Options as in tools/README.md; slow-link values (delay_ms, jitter_ms, loss) are one
    number for every link or a list with one per link.  link_seed makes jitter and loss
    repeatable; delay_link is the forwarder binary; emulator_owner the pid whose end
    stops it (default the path's owner; 0: none, it stops after an hour).
    """

    def __init__(self, routers: int = 4, silent=(), target_silent: bool = False, names: bool = False,
                 icmp_ratelimit: int = 0, family: str = "4", ecmp: int | None = None,
                 delay_ms=0.0, jitter_ms=0.0, loss=0.0, late_icmp=None, delay_link: str | None = None,
                 link_seed: int | None = None, emulator_owner: int | None = None,
                 target_icmp_ratelimit: int | None = None, icmp_limit: str | None = None, icmp_limit_routers=None,
                 forward_drop: dict | None = None):
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
        self.router_count, self.family, self.fams, self.ecmp = routers, family, FAMILIES[family], ecmp
        self.silent = self._hops(silent, "silent router")
        self.target_silent, self.names = target_silent, names
        self.icmp_ratelimit, self.target_icmp_ratelimit = icmp_ratelimit, target_icmp_ratelimit
        self.icmp_limit = icmp_limit
        limited = range(1, routers + 1) if icmp_limit_routers is None else icmp_limit_routers
        self.icmp_limit_routers = self._hops(limited, "icmp_limit router") if icmp_limit else []
        # forward_drop {K: percent}: router K drops that share of the probes it forwards
        # (UDP only, so the answers of the hops behind it come back untouched).
        self.forward_drop = {h: int(pct) for h, pct in (forward_drop or {}).items()}
        for h, pct in self.forward_drop.items():
            self._hops([h], "forward_drop router")
            if not 0 <= pct <= 100:
                raise ValueError("forward_drop of router %d must be 0 to 100 percent, not %r" % (h, pct))
        self.late_icmp = {h: float(ms) for h, ms in (late_icmp or {}).items()}
        for h, ms in self.late_icmp.items():
            self._hops([h], "late_icmp router")
            if not ms >= 0:
                raise ValueError("late_icmp of router %d must be 0 or more ms, not %r" % (h, ms))
        self.delay_link, self.link_seed, self.emulator_owner = delay_link, link_seed, emulator_owner
        self.handle, self.is_up = "", False
        self._layout()
        n = len(self.links)
        self.link_delay_ms = self._per_link(delay_ms, n, "delay_ms")
        self.link_jitter_ms = self._per_link(jitter_ms, n, "jitter_ms")
        self.link_loss = self._per_link(loss, n, "loss", top=1.0)
        self.source_address, self.source_address6 = self._at(self.fams[0], 1, 1), self._at("ip6", 1, 1)
        self.target, self.target6 = self._answers_from("target", self.fams[0]), self._answers_from("target", "ip6")
        self.target_name = "target." + DOMAIN if names else None
        self.unrouted_address = FAMILY[self.fams[0]].unrouted
        self.forwarder_pid: int | None = None
        self._forwarder_start: str | None = None

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
        """Nodes (keys "src", "rK", "rKa", "target") by hop, links in order of hop, and
        every node's routes.  Names depend on the handle, so keys stand for
        namespaces until `up`."""
        split = {self.ecmp + 1, self.ecmp + 2} if self.ecmp else set()
        by_hop = [[("src", "")]]
        by_hop += [[("r%d%s" % (h, b), b) for b in (("a", "b") if h in split else ("",))]
                   for h in range(1, self.router_count + 1)]
        by_hop.append([("target", "")])
        self.nodes = [k for nodes in by_hop for k, _ in nodes]
        self.hop_of = {k: h for h, nodes in enumerate(by_hop) for k, _ in nodes}
        self.branch_of = {k: b for nodes in by_hop for k, b in nodes}
        # (k, west node, east node): the end east of the link is .2, west .1.  A
        # branch joins only itself, and both branches the nodes around the split.
        pairs = [(w, e) for hop in range(1, len(by_hop)) for e, eb in by_hop[hop] for w, wb in by_hop[hop - 1]
                 if not eb or not wb or eb == wb]
        self.links = [(k, w, e) for k, (w, e) in enumerate(pairs, 1)]
        # Interfaces: wI towards the source, eI towards the target, in link order.
        self.ifname, count = {}, {}
        for k, west, east in self.links:
            for node, side in ((west, "e"), (east, "w")):
                count[node, side] = count.get((node, side), -1) + 1
                self.ifname[k, node] = "%s%d" % (side, count[node, side])
        # Every other link's subnet via the neighbours nearest to it, all of them
        # where two are equally near (ECMP).
        self.neighbours = {n: [] for n in self.nodes}  # node -> [(neighbour, its end number, link)]
        for k, w, e in self.links:
            self.neighbours[w].append((e, 2, k))
            self.neighbours[e].append((w, 1, k))
        dist = {n: self._distances(n) for n in self.nodes}
        self.gateways = {}  # (node, link) -> [(link, end) of each next hop]
        for node in self.nodes[1:]:
            for k, w, e in self.links:
                near = lambda n: min(dist[n][w], dist[n][e])  # noqa: E731
                if node not in (w, e):
                    self.gateways[node, k] = [(link, end) for m, end, link in self.neighbours[node]
                                              if near(m) == near(node) - 1]

    def _distances(self, start: str) -> dict[str, int]:
        dist, todo = {start: 0}, [start]
        for n in todo:
            for m, _, _ in self.neighbours[n]:
                if m not in dist:
                    dist[m] = dist[n] + 1
                    todo.append(m)
        return dist

    # Names and addresses --------------------------------------------------------

    def _at(self, fam: str, link: int, end: int) -> str | None:
        return FAMILY[fam].address % (link, end) if fam in self.fams else None

    def _answers_from(self, key: str, fam: str) -> str | None:
        """The node's address on its first link towards the source: where its ICMP comes from."""
        return self._at(fam, next(k for k, _, e in self.links if e == key), 2)

    def ns(self, key: str) -> str:
        return "%s-%s" % (self.handle, key)

    @property
    def source_ns(self) -> str:
        return self.ns("src")

    @property
    def target_ns(self) -> str:
        return self.ns("target")

    @property
    def routers(self) -> list[Router]:
        """Every router, by hop (branch a before b)."""
        return [Router(self.hop_of[key], self.branch_of[key], self.ns(key), self._answers_from(key, self.fams[0]),
                       self._answers_from(key, "ip6"),
                       self._at(self.fams[0], next(k for k, w, _ in self.links if w == key), 1),
                       "%s.%s" % (key, DOMAIN) if self.names else None, self.hop_of[key] in self.silent)
                for key in self.nodes[1:-1]]

    def hop_addresses(self, hop: int, fam: str = "") -> set[str]:
        """Addresses that may answer for hop `hop`: one per link into it (more than
        one inside an ECMP split, and at the router joining it)."""
        return {FAMILY[fam or self.fams[0]].address % (k, 2) for k, _, e in self.links if self.hop_of[e] == hop}

    @property
    def namespaces(self) -> list[str]:
        return [self.ns(k) for k in self.nodes]

    def exec_args(self, *command: str) -> list[str]:
        """argv that runs `command` inside the source namespace."""
        return ["ip", "netns", "exec", self.source_ns, *command]

    @property
    def hosts_file(self) -> str | None:
        return os.path.join(lifetime.ETC_NETNS, self.source_ns, "hosts") if self.names else None

    # Slow links -------------------------------------------------------------------

    def _link_args(self, k: int) -> list[str]:
        """The forwarder's arguments for link k, none when it is a plain veth: its
        delays, and --late-icmp for the ICMP its east router sends towards the source."""
        i, east = k - 1, self.links[k - 1][2]
        late = self.late_icmp.get(self.hop_of[east]) if east != "target" else None
        if not (self.link_delay_ms[i] or self.link_jitter_ms[i] or self.link_loss[i] or late):
            return []
        args = ["--link", "%s:w0:e0:%g:%g:%g" % (self.link_ns(k), self.link_delay_ms[i], self.link_jitter_ms[i],
                                                 self.link_loss[i])]
        for fam in self.fams if late else ():
            args += ["--late-icmp", "%s:%s:%g" % (self.link_ns(k), self._at(fam, k, 2), late)]
        return args

    def link_emulated(self, k: int) -> bool:
        return bool(self._link_args(k))

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

    def link_stats(self) -> dict | None:
        """The forwarder's counters per link and direction (received, forwarded, lost,
        late_mean_us, late_max_us ...), fresh; None without emulated links."""
        if not self.emulated or not self.handle:
            return None
        stats = link_file(self.handle, "stats.json")
        mtime = lambda: os.stat(stats).st_mtime_ns if os.path.exists(stats) else 0  # noqa: E731
        if self.forwarder_pid:
            before, deadline = mtime(), time.monotonic() + 2.0
            os.kill(self.forwarder_pid, signal.SIGUSR1)
            while mtime() == before and time.monotonic() < deadline:
                time.sleep(0.002)
        return lifetime.read_json(stats) or None

    def describe(self) -> dict:
        keys = ("handle", "family", "source_ns", "source_address", "source_address6", "target_ns", "target", "target6",
                "target_name", "target_silent", "namespaces", "unrouted_address", "hosts_file", "link_namespaces")
        return dict({k: getattr(self, k) for k in keys},
                    routers=[dataclasses.asdict(r) for r in self.routers],
                    # Runs from any folder: python3 runs the package's folder as a program.
                    down=[sys.executable, os.path.dirname(os.path.abspath(__file__)), "down", self.handle],
                    links=[{"link": k, "ns": self.link_ns(k) if self.link_emulated(k) else None,
                            "delay_ms": self.link_delay_ms[k - 1], "jitter_ms": self.link_jitter_ms[k - 1],
                            "loss": self.link_loss[k - 1]} for k, _, _ in self.links],
                    delay_link_pid=self.forwarder_pid,
                    link_stats_file=link_file(self.handle, "stats.json") if self.emulated else None)

    # Building ---------------------------------------------------------------------

    def up(self) -> "NetnsPath":
        """Builds the path, owned by this process: should it die, the next path built removes this one."""
        if self.is_up:
            return self
        reason = unavailable_reason(need_nft=bool(self.silent or self.target_silent or self.icmp_limit
                                                     or self.forward_drop))
        if reason:
            raise FixtureUnavailable(reason)
        with lifetime.live_lock:
            lifetime.install_handlers()
            lifetime.remove_stale()
            while (handle := PREFIX + secrets.token_hex(4)) in lifetime.all_handles():
                pass
            self.handle = handle
            # Registered before anything exists, so a signal or crash at any point
            # below still removes whatever was made.
            lifetime.live[self.handle] = self
            self.is_up = True
        try:
            lifetime.write_owner(self.handle, os.getpid())
            self._build(os.getpid() if self.emulator_owner is None else self.emulator_owner)
        except BaseException:
            self.down()
            raise
        return self

    def _build(self, link_owner: int) -> None:
        lifetime.run_batches([(["ip", "-batch", "-"],
                               "".join("netns add %s\n" % n for n in self.namespaces + self.link_namespaces))])
        for key in self.nodes:
            with InNamespace(self.ns(key)):
                write_sysctls(self._sysctls(key))
        for name in self.link_namespaces:
            with InNamespace(name):  # only the forwarder moves frames across
                write_sysctls({"net.ipv4.ip_forward": 0, "net.ipv6.conf.all.disable_ipv6": 1,
                               "net.ipv6.conf.default.disable_ipv6": 1})
        lifetime.run_batches([(["ip", "-batch", "-"], "".join(self._veths()))])
        lifetime.run_batches(self._nftables())
        if self.names:
            self._write_names()
        # Addresses, links and routes: one `ip -batch` per namespace, all at once.
        jobs = [(["ip", "-n", self.ns(key), "-batch", "-"], "\n".join(self._addresses_and_routes(key)) + "\n")
                for key in self.nodes]
        jobs += [(["ip", "-n", name, "-batch", "-"], "link set w0 up\nlink set e0 up\n")
                 for name in self.link_namespaces]
        lifetime.run_batches(jobs)
        self._wait_ready()
        if self.emulated:
            self._start_forwarder(link_owner)

    def _sysctls(self, key: str) -> dict:
        """Set before any link exists, so forwarding, the ICMP limits and no duplicate
        address detection hold from the first packet."""
        router = key not in ("src", "target")
        limit = self.icmp_ratelimit
        if key == "target" and self.target_icmp_ratelimit is not None:
            limit = self.target_icmp_ratelimit
        values = {"net.ipv4.ip_forward": int(router and "ip" in self.fams), "net.ipv4.icmp_ratelimit": limit,
                  # The namespace-wide bucket: out of the way with no per-destination
                  # limit, the kernel's own (1000/s, burst 50) with one.
                  "net.ipv4.icmp_msgs_per_sec": UNLIMITED_MSGS if limit == 0 else 1000,
                  "net.ipv4.icmp_msgs_burst": UNLIMITED_MSGS if limit == 0 else 50}
        if key == "src":  # as systemd sets on desktops, so unprivileged ICMP sockets work here
            values["net.ipv4.ping_group_range"] = "0 2147483647"
        if self.ecmp:
            # Hash the 5-tuple, so a flow keeps its branch.  Not policy 1: that takes a
            # hash the sender's socket already put on the packet (random per socket),
            # which a veth hands over unchanged, so every probe of a traceroute would
            # pick a branch of its own.
            for v in ("ipv4", "ipv6"):
                values.update({"net.%s.fib_multipath_hash_policy" % v: 3, "net.%s.fib_multipath_hash_fields" % v: 0x37})
        for conf in ("all", "default"):
            if "ip6" in self.fams:
                values.update({"net.ipv6.conf.%s.accept_dad" % conf: 0,
                               "net.ipv6.conf.%s.forwarding" % conf: int(router)})
            elif self.emulated:
                # IPv4 only: without IPv6 announcements every frame a slow link
                # carries is one a test or tracer sent, and its counters add up.
                values["net.ipv6.conf.%s.disable_ipv6" % conf] = 1
        if "ip6" in self.fams:
            values["net.ipv6.icmp.ratelimit"] = limit
        return values

    def _veths(self) -> list[str]:
        # Each veth end is created straight inside its namespace, so the short names
        # cannot clash with the machine's own.  Explicit interface indexes keep the
        # two ends of a pair different: left alone both get index 2 in their fresh
        # namespaces, the kernel files their carrier change as not urgent, and the
        # link only passes packets about a second later.
        pair = "link add name %s index %d address %s netns %s type veth peer name %s index %d address %s netns %s\n"
        lines = []
        for k, west, east in self.links:
            w = (self.ifname[k, west], 100 + 2 * k, _mac(k, 1), self.ns(west))
            e = (self.ifname[k, east], 101 + 2 * k, _mac(k, 2), self.ns(east))
            if not self.link_emulated(k):
                lines.append(pair % (w + e))
            else:  # west -- (w0 dK e0) -- east; the forwarder in dK joins w0 and e0
                lines.append(pair % (w + ("w0", 2000 + 2 * k, _mac(k, 3), self.link_ns(k))))
                lines.append(pair % (("e0", 2001 + 2 * k, _mac(k, 4), self.link_ns(k)) + e))
        return lines

    def _addresses_and_routes(self, key: str) -> list[str]:
        cmds = ["link set lo up"]
        for k, west, east in self.links:
            if key in (west, east):
                (end, other), dev = (1, 2) if key == west else (2, 1), self.ifname[k, key]
                for fam in self.fams:
                    cmds.append("addr add %s%s dev %s" % (self._at(fam, k, end), FAMILY[fam].flags, dev))
                    if self.emulated:
                        # No neighbour discovery across a slow link: the first probe of a
                        # trace costs one round trip like every later one, as on a path in use.
                        cmds.append("neigh replace %s lladdr %s dev %s nud permanent"
                                    % (self._at(fam, k, other), _mac(k, other), dev))
                cmds.append("link set %s up" % dev)
        for fam in self.fams:
            if key == "src":  # only the test ranges, and only into r1: a probe can never leave the path
                cmds.append("route add %s via %s" % (FAMILY[fam].routed, self._at(fam, 1, 2)))
                continue
            for k, _, _ in self.links:
                gateways = [self._at(fam, link, end) for link, end in self.gateways.get((key, k), [])]
                if len(gateways) == 1:
                    cmds.append("route add %s via %s" % (FAMILY[fam].subnet % k, gateways[0]))
                elif gateways:
                    cmds.append("route add %s %s" % (FAMILY[fam].subnet % k,
                                                     " ".join("nexthop via " + g for g in gateways)))
        return cmds

    def _nftables(self) -> list[tuple[list[str], str]]:
        # Silent hops: the kernel still makes its answer and nftables drops it on the
        # way out, like a filtering router; the counter lets a test prove that an
        # answer was made and dropped rather than wait for it.  icmp_limit: a router's
        # own limit on the ICMP it makes (control plane policing).
        rules = {self.target_ns: [("hoplantern_fixture", "")]} if self.target_silent else {}
        for r in self.routers:
            if r.silent:
                rules.setdefault(r.ns, []).append(("hoplantern_fixture", ""))
            if r.hop in self.icmp_limit_routers:
                rules.setdefault(r.ns, []).append(("hoplantern_icmp_limit", "limit rate over %s " % self.icmp_limit))
        table = "table %s %s {\n  chain output {\n    type filter hook output priority 0; policy accept;\n" \
                "    %s %scounter drop\n  }\n}\n"
        scripts = {name: "".join(table % (fam, t, FAMILY[fam].icmp, limit) for t, limit in tables for fam in self.fams)
                   for name, tables in rules.items()}
        # forward_drop: loss on the way that every hop behind the router shows.
        drop = "table inet hoplantern_forward_drop {\n  chain forward {\n" \
               "    type filter hook forward priority 0; policy accept;\n" \
               "    meta l4proto udp numgen random mod 100 < %d counter drop\n  }\n}\n"
        for r in self.routers:
            if r.hop in self.forward_drop:
                scripts[r.ns] = scripts.get(r.ns, "") + drop % self.forward_drop[r.hop]
        return [(["ip", "netns", "exec", name, "nft", "-f", "-"], script) for name, script in scripts.items()]

    def _write_names(self) -> None:
        directory = os.path.join(lifetime.ETC_NETNS, self.source_ns)
        os.makedirs(directory, mode=0o755)
        lines = ["127.0.0.1\tlocalhost"]
        for fam in self.fams:
            lines.append("%s\tsrc.%s" % (self._at(fam, 1, 1), DOMAIN))
            lines += ["%s\t%s.%s" % (self._answers_from(key, fam), key, DOMAIN) for key in self.nodes[1:]]
        with open(os.path.join(directory, "hosts"), "w") as f:
            f.write("\n".join(lines) + "\n")
        # Empty: `ip netns exec` mounts it over /etc/resolv.conf, so no DNS server is
        # known and every name comes from the hosts file above.
        open(os.path.join(directory, "resolv.conf"), "w").close()

    def _wait_ready(self) -> None:
        # Until the kernel has marked a veth running its queue still drops packets.
        pending = [(self.ns(key), dev) for (k, key), dev in self.ifname.items()]
        pending += [(n, dev) for n in self.link_namespaces for dev in ("w0", "e0")]
        deadline = time.monotonic() + READY_SECONDS
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

    def _start_forwarder(self, owner: int) -> None:
        binary = self.delay_link or find_delay_link()
        if not binary:
            raise FixtureError("hl_delay_link not found: build it (cmake --build build --target hl_delay_link) "
                               "or set %s" % DELAY_LINK_ENV)
        args = [binary, "--stats", link_file(self.handle, "stats.json"), "--max-seconds", str(LINK_MAX_SECONDS)]
        args += ["--owner", str(owner)] if owner else []
        args += ["--seed", str(self.link_seed)] if self.link_seed is not None else []
        args += [a for k, _, _ in self.links for a in self._link_args(k)]
        os.makedirs(lifetime.OWNERS_DIR, exist_ok=True)
        # Its messages go to a file: it may outlive this process (`up`) and must not
        # hold a caller's pipe open meanwhile.  It is stopped by pid and start time
        # (or by its owner's end), never waited for here.
        with open(link_file(self.handle, "log"), "w+b") as log_file:
            proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log_file)
        log = lambda: open(log_file.name, errors="replace").read().strip()  # noqa: E731
        with proc.stdout:
            self.forwarder_pid, self._forwarder_start = proc.pid, lifetime.process_start(proc.pid)
            proc.returncode = 0  # not reaped by Popen's destructor or at exit
            # Recorded before waiting for it, so `down` from anywhere can stop it.
            lifetime.write_json(link_file(self.handle, "pid"), {"pid": proc.pid, "start": self._forwarder_start})
            ready, deadline = b"", time.monotonic() + READY_SECONDS
            while not ready.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([proc.stdout], [], [], left)[0]:
                    raise FixtureError("hl_delay_link did not come up within %gs: %s" % (READY_SECONDS, log()))
                chunk = os.read(proc.stdout.fileno(), 64)
                if not chunk:
                    raise FixtureError("hl_delay_link ended at start-up: %s" % log())
                ready += chunk
        if ready.strip() != b"ready":
            raise FixtureError("hl_delay_link said %r instead of ready" % ready)

    # Removing -----------------------------------------------------------------------

    def down(self) -> None:
        with lifetime.live_lock:
            if not self.is_up:
                return
            try:
                lifetime.stop_process(self.forwarder_pid, self._forwarder_start)
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
