"""The path builder (tools/netpath) and the delaying link (tools/hl_delay_link) really
behave like the network the tracer tests assume, where a tracer test could pass without
it (who answers each hop, the delays and the ECMP branches fail test_trace_paths.py's rows
and times), checked with hand-made ICMP probes and traceroute from the source namespace.

Nothing waits for an answer to *not* come: a silent hop is proven silent by its
nftables counter (the answer was made and dropped), and a probe sent later along
the same path is answered only after the earlier ones were handled.  Bounds on
times are about what the emulator holds frames for, never about speed.
"""

import json
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import time
import unittest

from tools.icmp_flood import icmp
from tools.netpath import InNamespace, NetnsPath, exit_unless_available, lifetime, namespaces_of

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DELAY_LINK = os.environ.get("HL_DELAY_LINK", "")
HANG_GUARD = 30.0  # a safety net so a broken path fails instead of hanging
RTT_TOLERANCE_MS = 3.0  # kernels forwarding and the forwarder waking up
ECHO_REPLY, DEST_UNREACH, ECHO, TIME_EXCEEDED = 0, 3, 8, 11
SO_TIMESTAMPNS = 35


def load_tests(loader, tests, pattern):
    ok = DELAY_LINK and os.access(DELAY_LINK, os.X_OK)
    exit_unless_available(None if ok else "HL_DELAY_LINK is not a built hl_delay_link: run this through ctest")
    return tests


def run(*args, **kw) -> subprocess.CompletedProcess:
    return subprocess.run(args, capture_output=True, text=True, timeout=HANG_GUARD, **kw)


def counter(ns: str, table: str, family: str = "ip") -> int:
    out = run("ip", "netns", "exec", ns, "nft", "-j", "list", "table", family, table, check=True).stdout
    rules = [item["rule"] for item in json.loads(out)["nftables"] if "rule" in item]
    return next(e["counter"]["packets"] for e in rules[0]["expr"] if "counter" in e)


def wait_until(predicate, timeout: float = HANG_GUARD) -> bool:
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


class Prober:
    """A raw ICMP socket in the source namespace: echo probes, answers timed by the kernel."""

    def __init__(self, path: NetnsPath):
        with InNamespace(path.source_ns):
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.ident, self.sent, self.answers = os.getpid() & 0xFFFF, {}, {}

    def send(self, address: str, ttl: int = 64) -> int:
        seq = len(self.sent) + 1
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, ttl)
        self.sent[seq] = time.time()
        self.sock.sendto(icmp(ECHO, 0, struct.pack("!HH", self.ident, seq), b"hoplantern-fixture"), (address, 0))
        return seq

    def drain(self, quiet: float = 0, until=lambda: False) -> dict:
        """{seq: (address, type, code, rtt ms)} of our probes' answers, read until `until()`
        or until none came for `quiet` seconds."""
        while not until() and select.select([self.sock], [], [], quiet)[0]:
            data, anc, _, _ = self.sock.recvmsg(2048, 256)
            sec, nsec = struct.unpack("qq", anc[0][2][:16])
            ihl = (data[0] & 0x0F) * 4
            kind, code, quoted = data[ihl], data[ihl + 1], data[ihl:ihl + 8]
            if kind in (TIME_EXCEEDED, DEST_UNREACH):  # quoting our echo request
                quoted = data[ihl + 8 + (data[ihl + 8] & 0x0F) * 4:][:8]
                kind = kind if len(quoted) == 8 and quoted[0] == ECHO else None
            ident, seq = struct.unpack("!HH", quoted[4:8])
            if kind in (ECHO_REPLY, TIME_EXCEEDED, DEST_UNREACH) and ident == self.ident and seq in self.sent:
                rtt = (sec + nsec / 1e9 - self.sent[seq]) * 1e3
                self.answers[seq] = (socket.inet_ntoa(data[12:16]), kind, code, rtt)
        return self.answers

    def answer(self, seq: int):
        if seq not in self.drain(HANG_GUARD, lambda: seq in self.answers):
            raise AssertionError("no answer to probe %d" % seq)
        return self.answers[seq]


class PathCase(unittest.TestCase):
    """One path per class, removed however the class ends."""
    path_args: dict = {}

    @classmethod
    def setUpClass(cls):
        cls.path = NetnsPath(delay_link=DELAY_LINK, **cls.path_args).up()
        cls.addClassCleanup(cls.path.down)

    def setUp(self):
        self.prober = Prober(self.path)
        self.addCleanup(self.prober.sock.close)

    def hop(self, ttl: int, to: str | None = None):
        return self.prober.answer(self.prober.send(to or self.path.target, ttl))

    def settled(self) -> dict:
        """The forwarder's counters once it holds no frame any more."""
        stats = {}
        self.assertTrue(wait_until(lambda: stats.update(self.path.link_stats()) or stats["held"] == 0))
        return stats

    def traceroute(self, *args: str) -> list:
        """traceroute -n -q 1: the address of each row, None for '*'."""
        out = run(*self.path.exec_args("traceroute", "-n", "-q", "1", "-w", "1", *args), check=True).stdout
        return [line.split()[1] if line.split()[1] != "*" else None for line in out.splitlines()[1:]]


class Confined:
    """Checked on an IPv4 and on a dual-stack path."""

    def test_nothing_outside_the_test_ranges_is_routed_from_the_source(self):
        ns = self.path.source_ns
        # The machine's resolver lives in a private range: it must be unreachable here.
        for flag, inside, outside in (("-4", ("198.18.", "127."), "10.255.255.53"),
                                      ("-6", ("2001:db8:", "fe80:", "::1", "ff00:"), "2001:4860::1")):
            with self.subTest(family=flag):
                routes = json.loads(run("ip", flag, "-n", ns, "-j", "route", "show", "table", "all", check=True).stdout)
                self.assertTrue(routes and all(r["dst"].startswith(inside) for r in routes), routes)
                self.assertIn("unreachable", run("ip", flag, "-n", ns, "route", "get", outside).stderr)
        links = json.loads(run("ip", "-n", ns, "-j", "link", check=True).stdout)
        self.assertEqual(sorted(link["ifname"] for link in links), ["e0", "lo"])


class AnsweringPath(Confined, PathCase):
    path_args = {"routers": 4, "names": True}

    def test_many_quick_probes_all_answered(self):
        # The kernel's default limits answer a few and then one a second; not here.
        seqs = [self.prober.send(self.path.target, ttl=3) for _ in range(200)]
        for seq in seqs:
            self.assertEqual(self.prober.answer(seq)[0], self.path.routers[2].address)

    def test_names_resolve_inside_the_source_namespace_only(self):
        script = ("import socket\nprint(socket.gethostbyaddr('198.18.2.2')[0])\n"
                  "print(socket.gethostbyname('target.path.test'))\n"
                  "try:\n    socket.gethostbyname('no-such-host.invalid'); print('resolved')\n"
                  "except OSError:\n    print('unresolved')\n")
        out = run(*self.path.exec_args(sys.executable, "-c", script), check=True).stdout
        self.assertEqual(out.split(), ["r2.path.test", self.path.target, "unresolved"])


class UnroutedAddress(PathCase):
    # A path of its own: "network unreachable" answers share a machine-wide budget
    # per source, but the first answer r1 ever sends is always allowed.
    path_args = {"routers": 1}

    def test_unrouted_address_gets_network_unreachable_from_r1(self):
        self.assertEqual(self.hop(64, self.path.unrouted_address)[:3], (self.path.routers[0].address, DEST_UNREACH, 0))


class SilentNodesDualStack(Confined, PathCase):
    path_args = {"routers": 4, "silent": [2], "target_silent": True, "family": "dual", "names": True}

    def test_silent_nodes_make_their_answers_and_drop_them_the_others_answer(self):
        for ttl in (1, 2, 3, 4, 64):
            with self.subTest(ttl=ttl):
                ns = self.path.routers[1].ns if ttl == 2 else self.path.target_ns
                if ttl in (2, 64):
                    before = counter(ns, "hoplantern_fixture")
                    silent = self.prober.send(self.path.target, ttl)
                    self.assertTrue(wait_until(lambda: counter(ns, "hoplantern_fixture") == before + 1))
                    # Answered only after the earlier probe was long handled.
                    self.assertEqual(self.hop(3)[0], self.path.routers[2].address)
                    self.assertNotIn(silent, self.prober.drain())
                else:
                    self.assertEqual(self.hop(ttl)[0], self.path.routers[ttl - 1].address)

    def test_traceroute_crosses_both_families(self):
        p = self.path
        for flag, fam, target in (("-4", "ip", p.target), ("-6", "ip6", p.target6), ("-6", "ip6", "target.path.test")):
            with self.subTest(family=flag, target=target):
                before = counter(p.target_ns, "hoplantern_fixture", fam)
                want = [getattr(r, "address6" if fam == "ip6" else "address") for r in p.routers]
                self.assertEqual(self.traceroute(flag, "-m", "5", target), want[:1] + [None] + want[2:] + [None])
                self.assertGreater(counter(p.target_ns, "hoplantern_fixture", fam), before)


class JitterAndLoss(PathCase):
    """One link, 6 +- 4 ms each way, 30% of frames dropped in each direction."""
    path_args = {"routers": 0, "delay_ms": 6, "jitter_ms": 4, "loss": 0.3, "link_seed": 7}

    def test_jitter_spreads_and_loss_drops(self):
        for _ in range(40):
            self.prober.send(self.path.target)
        stats = self.settled()
        rtts = sorted(a[3] for a in self.prober.drain(0.2).values())
        out, back = stats["links"][0]["directions"]
        self.assertEqual(out["received"], 40)
        self.assertEqual(out["received"], out["forwarded"] + out["lost"])
        self.assertEqual(back["received"], out["forwarded"], "the target answers every request it gets")
        self.assertEqual(len(rtts), back["forwarded"])
        # 30% of 40, and of what is left: bounds far outside chance for a fixed seed.
        self.assertTrue(4 <= out["lost"] <= 22 and 1 <= back["lost"] <= 18, (out, back))
        self.assertGreaterEqual(rtts[0], 4.0)  # each way 2..10 ms
        self.assertLess(rtts[-1], 20.0 + RTT_TOLERANCE_MS)
        self.assertGreater(rtts[-1] - rtts[0], 3.0, "jitter should spread the round trips")


class LateIcmpOfOneRouter(PathCase):
    """r1's own ICMP leaves 200 ms late; what it forwards does not."""
    path_args = {"routers": 2, "late_icmp": {1: 200}}

    def test_only_the_routers_own_answers_are_late(self):
        for ttl, late in ((1, True), (2, False), (64, False)):
            with self.subTest(ttl=ttl):
                rtt = self.hop(ttl)[3]
                self.assertEqual(rtt >= 200.0, late, rtt)
                self.assertLess(rtt, 200.0 + RTT_TOLERANCE_MS if late else RTT_TOLERANCE_MS)


class RouterLimits(PathCase):
    """r1 makes at most 2 answers a second (nftables); the target has the kernel's
    default icmp_ratelimit. Plain veths, which keep the order."""
    path_args = {"routers": 2, "icmp_limit": "2/second burst 2 packets", "icmp_limit_routers": [1],
                 "target_icmp_ratelimit": 1000}

    def udp_probes(self, ttl: int, count: int, answer: int) -> int:
        """Sends `count` UDP probes, then counts the ICMP answers of type `answer` that
        were queued once an echo sent after them is back (echo replies are not limited)."""
        with InNamespace(self.path.source_ns):
            udp, raw = socket.socket(socket.AF_INET, socket.SOCK_DGRAM), socket.socket(
                socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        with udp, raw:
            udp.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, ttl)
            for i in range(count):
                udp.sendto(b"x", (self.path.target, 33434 + i))
            self.hop(64)
            n = 0
            while select.select([raw], [], [], 0.05)[0]:
                data = raw.recv(2048)
                n += data[(data[0] & 0x0F) * 4] == answer
            return n

    def test_router_limit_drops_answers_beyond_its_rate(self):
        ns = self.path.routers[0].ns
        before = counter(ns, "hoplantern_icmp_limit")
        passed = self.udp_probes(1, 10, TIME_EXCEEDED)
        dropped = counter(ns, "hoplantern_icmp_limit") - before
        self.assertEqual(passed + dropped, 10)
        self.assertLessEqual(passed, 3)

    def test_target_limit_is_the_kernel_default(self):
        # A burst of about six, then one a second: most of 20 quick probes go unanswered.
        self.assertTrue(1 <= self.udp_probes(64, 20, DEST_UNREACH) <= 8)


class Lifecycle(unittest.TestCase):
    def assertGone(self, handle: str, forwarder: int | None = None):
        self.assertEqual(namespaces_of(handle), [])
        self.assertFalse(os.path.exists(os.path.join(lifetime.ETC_NETNS, handle + "-src")))
        self.assertEqual([n for n in os.listdir(lifetime.OWNERS_DIR) if n.startswith(handle)], [])
        if forwarder:
            self.assertTrue(wait_until(lambda: not lifetime.alive(forwarder), 5.0), "forwarder still runs")

    def cli(self, *args, cwd=ROOT):
        return run(sys.executable, "-m", "tools.netpath", *args, cwd=cwd,
                   env=dict(os.environ, HL_DELAY_LINK=DELAY_LINK))

    def up(self, *args) -> str:
        up = self.cli("up", *args)
        self.assertEqual(up.returncode, 0, up.stderr)
        handle = dict(line.split("=", 1) for line in up.stdout.splitlines())["NETNS_PATH_HANDLE"]
        self.addCleanup(lifetime.remove_handle, handle)
        return handle

    def test_with_block_removes_everything_even_on_error_and_paths_do_not_clash(self):
        with self.assertRaises(RuntimeError):
            with NetnsPath(routers=2, names=True, silent=[1], delay_ms=1, delay_link=DELAY_LINK) as path, \
                    NetnsPath(routers=2) as other:
                self.assertEqual(len(namespaces_of(path.handle)), 4 + 3)
                self.assertTrue(lifetime.alive(path.forwarder_pid) and os.path.exists(path.hosts_file))
                self.assertEqual((path.target != other.target, path.handle != other.handle), (False, True))
                raise RuntimeError("test body failed")
        self.assertGone(path.handle, path.forwarder_pid)
        self.assertGone(other.handle)

    def test_command_line_up_json_then_its_own_down_from_anywhere(self):
        up = self.cli("up", "--routers", "3", "--silent", "2", "--names", "--delay-ms", "1,2,3,4", "--json")
        self.assertEqual(up.returncode, 0, up.stderr)
        info = json.loads(up.stdout)
        self.addCleanup(lifetime.remove_handle, info["handle"])
        self.assertEqual([(r["name"], r["silent"]) for r in info["routers"]],
                         [("r1.path.test", False), ("r2.path.test", True), ("r3.path.test", False)])
        self.assertEqual([link["delay_ms"] for link in info["links"]], [1.0, 2.0, 3.0, 4.0])
        self.assertEqual(sorted(namespaces_of(info["handle"])), sorted(info["namespaces"] + info["link_namespaces"]))
        self.assertTrue(lifetime.alive(info["delay_link_pid"]), "the forwarder outlives `up`")
        down = run(*info["down"], cwd="/")
        self.assertEqual(down.returncode, 0, down.stderr)
        self.assertGone(info["handle"], info["delay_link_pid"])

    def test_command_line_rejects_bad_requests(self):
        for args, code in ((["up", "--routers", "2", "--silent", "3"], 2), (["up", "--ecmp", "2"], 2),
                           (["up", "--family", "5"], 2), (["up", "--loss", "2"], 2),
                           (["up", "--late-icmp", "1"], 2), (["up", "--owner", "999999999"], 2),
                           (["run", "--routers", "1"], 2), (["down", "hlpath-nothex!"], 2),
                           (["down", "hlpath-00000000"], 0), (["down"], 2)):
            with self.subTest(args=args):
                result = self.cli(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(result.stderr == "", code == 0, result.stderr)

    def test_run_sigterm_and_interpreter_exit_remove_everything(self):
        run_cmd = [sys.executable, "-m", "tools.netpath", "run", "--routers", "3", "--names", "--inside", "--",
                   "sh", "-c"]
        script = "from tools.netpath import NetnsPath\nprint(NetnsPath(routers=1, names=True).up().handle)\n"
        for argv, code, shown in ((run_cmd + ['echo "$NETNS_PATH_HANDLE"; ip -br addr show e0; exit 7'], 7,
                                   "198.18.1.1/24"),
                                  (run_cmd + ['echo "$NETNS_PATH_HANDLE"; exec sleep 600'], -signal.SIGTERM, ""),
                                  ([sys.executable, "-c", script], 0, "")):
            with self.subTest(argv=argv[-1]):
                proc = subprocess.Popen(argv, cwd=ROOT, stdout=subprocess.PIPE, text=True)
                self.addCleanup(proc.__exit__, None, None, None)  # closes its pipe, reaps it
                self.addCleanup(proc.kill)
                handle = proc.stdout.readline().strip()
                self.addCleanup(lifetime.remove_handle, handle)  # should the builder fail to
                if code == -signal.SIGTERM:
                    self.assertEqual(len(namespaces_of(handle)), 5)
                    proc.terminate()
                self.assertEqual(proc.wait(timeout=HANG_GUARD), code)
                self.assertIn(shown, proc.stdout.read())
                self.assertGone(handle)

    def test_killed_owner_its_forwarder_ends_and_the_next_path_removes_the_rest(self):
        # SIGKILL (a ctest timeout does that) leaves no chance to clean up.
        # A path without an owner stays until `down`.
        owner, unowned = subprocess.Popen(["sleep", "600"]), self.up("--routers", "1")
        try:
            handle = self.up("--routers", "1", "--names", "--delay-ms", "1", "--owner", str(owner.pid))
            forwarder = lifetime.read_json(lifetime.link_file(handle, "pid"))["pid"]
            with NetnsPath(routers=1):
                pass
            self.assertEqual(len(namespaces_of(handle)), 3 + 2, "owner alive: kept")
        finally:
            owner.send_signal(signal.SIGKILL)
            owner.wait()
        self.assertTrue(wait_until(lambda: not lifetime.alive(forwarder), 5.0), "forwarder outlived its owner")
        with NetnsPath(routers=0):
            pass
        self.assertGone(handle)
        self.assertEqual(len(namespaces_of(unowned)), 3)

    def test_forwarder_ends_when_its_links_are_removed(self):
        path = NetnsPath(routers=1, delay_ms=1, delay_link=DELAY_LINK, emulator_owner=0).up()
        self.addCleanup(path.down)
        # Namespaces removed behind the builder's back: the veth pairs go with them.
        subprocess.run(["ip", "-force", "-batch", "-"], input="".join(
            "netns del %s\n" % n for n in path.namespaces + path.link_namespaces), text=True, check=True)
        self.assertTrue(wait_until(lambda: not lifetime.alive(path.forwarder_pid), 10.0))


if __name__ == "__main__":
    unittest.main()
