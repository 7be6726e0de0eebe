"""The path emulator: routers in namespaces (netns_path.py) joined by slow links
(hl_delay_link), with the ICMP limits of real routers.

These check that the emulator does what benchmarks and tests rely on -- a link
really holds frames for its delay, jitter spreads them, loss drops them, the
limits silence answers, and everything is gone afterwards -- and that
hoplantern-cli's Time for each hop is the round trip the path was built with.
The bounds on times are about correctness of the emulator and of the measured
round trip (a few milliseconds of slack on delays of tens), never about how fast
anything runs.

Root is needed; without it (or without `ip netns`) the run exits 77 (skipped).
HL_DELAY_LINK names the forwarder and HOPLANTERN_CLI the tracer; ctest sets both.
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

import netns_path
from netns_path import NetnsPath

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "..", "integration", "netns_path.py")
CLI = os.environ.get("HOPLANTERN_CLI", "")
DELAY_LINK = os.environ.get("HL_DELAY_LINK", "") or netns_path.find_delay_link() or ""
# Safety net only, so a broken emulator fails instead of hanging the run.
HANG_GUARD = 30.0
# How far a measured round trip may be from the emulated one: the kernels'
# forwarding, the forwarder waking up, and the tracer's millisecond ticks.
RTT_TOLERANCE_MS = 3.0

ICMP_ECHO_REPLY, ICMP_DEST_UNREACH, ICMP_ECHO, ICMP_TIME_EXCEEDED = 0, 3, 8, 11
SO_TIMESTAMPNS = 35


def load_tests(loader, tests, pattern):
    reason = None
    if not (DELAY_LINK and os.access(DELAY_LINK, os.X_OK)):
        reason = "hl_delay_link is not built (HL_DELAY_LINK unset): run this through ctest"
    netns_path.exit_unless_available(reason)
    return tests


class Pinger:
    """ICMP echo from the source namespace, timed by the kernel's receive stamp."""

    def __init__(self, path: NetnsPath):
        with netns_path._InNamespace(path.source_ns):
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        self.ident = os.getpid() & 0xFFFF
        self.seq = 0
        self.sent = {}

    def close(self):
        self.sock.close()

    def send(self, address: str) -> int:
        self.seq += 1
        body = struct.pack("!HH", self.ident, self.seq) + b"pathemu"
        packet = struct.pack("!BBH", ICMP_ECHO, 0, netns_path.icmp_checksum(struct.pack("!BBH", ICMP_ECHO, 0, 0) + body)) + body
        self.sent[self.seq] = time.time()
        self.sock.sendto(packet, (address, 0))
        return self.seq

    def replies(self, count: int, wait: float) -> dict:
        """seq -> round trip (ms) of echo replies, until `count` came or `wait` passed."""
        got = {}
        deadline = time.monotonic() + wait
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                break
            data, anc, _, _ = self.sock.recvmsg(2048, 256)
            stamp = time.time()
            for level, kind, value in anc:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    sec, nsec = struct.unpack("qq", value[:16])
                    stamp = sec + nsec / 1e9
            ihl = (data[0] & 0x0F) * 4
            if data[ihl] != ICMP_ECHO_REPLY:
                continue
            ident, seq = struct.unpack("!HH", data[ihl + 4:ihl + 8])
            if ident == self.ident and seq in self.sent and seq not in got:
                got[seq] = (stamp - self.sent[seq]) * 1000.0
        return got

    def rtt(self, address: str) -> float:
        seq = self.send(address)
        got = self.replies(1, HANG_GUARD)
        if seq not in got:
            raise AssertionError("no echo reply from %s" % address)
        return got[seq]


def counter(ns: str, table: str) -> int:
    out = subprocess.run(["ip", "netns", "exec", ns, "nft", "-j", "list", "table", "ip", table],
                         capture_output=True, text=True, check=True).stdout
    for item in json.loads(out)["nftables"]:
        for expr in item.get("rule", {}).get("expr", []):
            if "counter" in expr:
                return expr["counter"]["packets"]
    raise AssertionError("no counter in table %s" % table)


def alive(pid: int) -> bool:
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_until(predicate, timeout: float = HANG_GUARD) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


class EmulatorCase(unittest.TestCase):
    path_args: dict = {}

    @classmethod
    def setUpClass(cls):
        cls.path = NetnsPath(delay_link=DELAY_LINK, **cls.path_args).up()
        cls.addClassCleanup(cls.path.down)

    def setUp(self):
        self.pinger = Pinger(self.path)
        self.addCleanup(self.pinger.close)

    def settled(self) -> dict:
        """Stats once no frame is held any more."""
        stats = {}

        def idle():
            stats.update(self.path.link_stats())
            return stats.get("held") == 0
        self.assertTrue(wait_until(idle), "frames still held: %r" % stats)
        return stats


class TenMillisecondsPerHop(EmulatorCase):
    """src -- r1 -- r2 -- target, every link 10 ms each way."""
    path_args = {"routers": 2, "delay_ms": 10}

    def test_echo_round_trip_is_the_emulated_delay(self):
        for hop, address in ((1, "198.18.1.2"), (2, "198.18.2.2"), (3, self.path.target)):
            want = self.path.rtt_ms(hop)
            self.assertEqual(want, 20.0 * hop)
            got = self.pinger.rtt(address)
            # Never shorter: the frames really were held.
            self.assertGreaterEqual(got, want, "hop %d" % hop)
            self.assertLess(got, want + RTT_TOLERANCE_MS, "hop %d" % hop)

    def test_every_frame_is_forwarded_and_none_lost(self):
        self.pinger.rtt(self.path.target)
        stats = self.settled()
        self.assertEqual(len(stats["links"]), 3)
        for link in stats["links"]:
            for d in link["directions"]:
                self.assertEqual((d["lost"], d["overflowed"], d["send_errors"]), (0, 0, 0), link)
                self.assertEqual(d["forwarded"], d["received"], link)
        # The probe crossed every link both ways.
        self.assertTrue(all(d["forwarded"] >= 1 for link in stats["links"] for d in link["directions"]))

    def test_links_have_their_own_namespace_and_fixed_neighbours(self):
        info = self.path.describe()
        self.assertEqual([l["ns"] for l in info["links"]], self.path.link_namespaces)
        self.assertEqual(sorted(netns_path.namespaces_of(self.path.handle)),
                         sorted(self.path.namespaces + self.path.link_namespaces))
        neigh = subprocess.run(["ip", "-n", self.path.source_ns, "neigh", "show", "dev", "e0"],
                               capture_output=True, text=True, check=True).stdout
        self.assertIn("198.18.1.2", neigh)
        self.assertIn("PERMANENT", neigh)

    @unittest.skipUnless(CLI and os.access(CLI, os.X_OK), "HOPLANTERN_CLI is not set")
    def test_hoplantern_time_is_the_emulated_round_trip(self):
        proc = subprocess.run(self.path.exec_args(CLI, "-n", "--json", "-m", "3", self.path.target),
                              capture_output=True, text=True, timeout=HANG_GUARD)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        hops = json.loads(proc.stdout)["hops"]
        self.assertEqual([h["address"] for h in hops], ["198.18.1.2", "198.18.2.2", self.path.target])
        self.assertEqual(hops[-1]["result"], "complete")
        for h in hops:
            want = self.path.rtt_ms(h["hop"])
            self.assertIsNotNone(h["time_ms"], h)
            self.assertLessEqual(abs(h["time_ms"] - want), RTT_TOLERANCE_MS,
                                 "hop %d: Time %s ms, emulated %.0f ms" % (h["hop"], h["time_ms"], want))


class JitterAndLoss(EmulatorCase):
    """One link, 6 +- 4 ms each way, 30% of frames dropped in each direction."""
    path_args = {"routers": 0, "delay_ms": 6, "jitter_ms": 4, "loss": 0.3, "link_seed": 7}
    PROBES = 40

    def test_jitter_spreads_and_loss_drops(self):
        for _ in range(self.PROBES):
            self.pinger.send(self.path.target)
        stats = self.settled()
        got = self.pinger.replies(self.PROBES, 0.2)  # all held frames have left by now
        d_out, d_back = stats["links"][0]["directions"]
        self.assertEqual(d_out["received"], self.PROBES)
        self.assertEqual(d_out["received"], d_out["forwarded"] + d_out["lost"])
        self.assertEqual(d_back["received"], d_out["forwarded"], "the target answers every request it gets")
        self.assertEqual(len(got), d_back["forwarded"])
        # 30% of 40, and of what is left: bounds far outside chance for a fixed seed.
        self.assertTrue(4 <= d_out["lost"] <= 22, d_out)
        self.assertTrue(1 <= d_back["lost"] <= 18, d_back)
        rtts = sorted(got.values())
        # Each way 2..10 ms.
        self.assertGreaterEqual(rtts[0], 4.0)
        self.assertLess(rtts[-1], 20.0 + RTT_TOLERANCE_MS)
        self.assertGreater(rtts[-1] - rtts[0], 3.0, "jitter should spread the round trips")


class RouterLimits(EmulatorCase):
    """Real routers' ICMP limits: r1 makes at most 2 answers a second (nftables),
    the target has the kernel's default icmp_ratelimit. No delay: plain veths."""
    path_args = {"routers": 2, "icmp_limit": "2/second burst 2 packets", "icmp_limit_routers": [1],
                 "target_icmp_ratelimit": 1000}

    def udp_probes(self, address: str, ttl: int, count: int):
        with netns_path._InNamespace(self.path.source_ns):
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, ttl)
        for i in range(count):
            sock.sendto(b"x", (address, 33434 + i))
        sock.close()

    def test_router_limit_drops_answers_beyond_its_rate(self):
        with netns_path._InNamespace(self.path.source_ns):
            raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.addCleanup(raw.close)
        before = counter(self.path.routers[0].ns, "hoplantern_icmp_limit")
        self.udp_probes(self.path.target, 1, 10)
        # Every probe made r1 answer; what the limit let through reaches us, the rest
        # is counted as dropped.
        self.assertTrue(wait_until(lambda: counter(self.path.routers[0].ns, "hoplantern_icmp_limit") - before >= 7),
                        "the limit should drop most of 10 quick answers")
        passed = 0
        while select.select([raw], [], [], 0.05)[0]:
            data = raw.recv(2048)
            if data[(data[0] & 0x0F) * 4] == ICMP_TIME_EXCEEDED:
                passed += 1
        dropped = counter(self.path.routers[0].ns, "hoplantern_icmp_limit") - before
        self.assertEqual(passed + dropped, 10)
        self.assertLessEqual(passed, 3)

    def test_target_limit_is_the_kernel_default(self):
        target_ns = self.path.target_ns
        with netns_path._InNamespace(target_ns):
            with open("/proc/sys/net/ipv4/icmp_ratelimit") as f:
                self.assertEqual(f.read().strip(), "1000")
        with netns_path._InNamespace(self.path.routers[1].ns):
            with open("/proc/sys/net/ipv4/icmp_ratelimit") as f:
                self.assertEqual(f.read().strip(), "0")
        with netns_path._InNamespace(self.path.source_ns):
            raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.addCleanup(raw.close)
        self.udp_probes(self.path.target, 64, 20)
        # Echo replies are not rate limited; once this one is back, every earlier
        # probe was handled (plain veths keep the order).
        self.pinger.rtt(self.path.target)
        unreachable = 0
        while select.select([raw], [], [], 0)[0]:
            data = raw.recv(2048)
            if data[(data[0] & 0x0F) * 4] == ICMP_DEST_UNREACH:
                unreachable += 1
        # A burst of about six, then one a second: most of 20 quick probes go unanswered.
        self.assertGreaterEqual(unreachable, 1)
        self.assertLessEqual(unreachable, 8)


class LeavesNothingBehind(unittest.TestCase):
    def assertGone(self, handle: str, pid: int | None):
        self.assertEqual(netns_path.namespaces_of(handle), [])
        for name in (handle, handle + ".links", handle + ".links-stats.json", handle + ".links-log"):
            self.assertFalse(os.path.exists(os.path.join(netns_path.OWNERS_DIR, name)), name)
        if pid:
            self.assertTrue(wait_until(lambda: not alive(pid), 5.0), "forwarder %d still runs" % pid)

    def run_cli(self, *args):
        env = dict(os.environ, HL_DELAY_LINK=DELAY_LINK)
        return subprocess.run([sys.executable, FIXTURE, *args], capture_output=True, text=True,
                              timeout=HANG_GUARD, env=env)

    def test_with_block_removes_forwarder_and_namespaces_even_on_error(self):
        with self.assertRaises(RuntimeError):
            with NetnsPath(routers=2, delay_ms=1, delay_link=DELAY_LINK) as path:
                pid = path.forwarder_pid
                self.assertTrue(alive(pid))
                self.assertEqual(len(netns_path.namespaces_of(path.handle)), 4 + 3)
                raise RuntimeError("test body failed")
        self.assertGone(path.handle, pid)

    def test_command_line_up_then_down(self):
        up = self.run_cli("up", "--routers", "2", "--delay-ms", "1,2,3", "--json")
        self.assertEqual(up.returncode, 0, up.stderr)
        info = json.loads(up.stdout)
        self.addCleanup(netns_path.remove_handle, info["handle"])
        pid = info["delay_link_pid"]
        self.assertEqual([l["delay_ms"] for l in info["links"]], [1.0, 2.0, 3.0])
        self.assertTrue(alive(pid), "the forwarder outlives `up`")
        down = self.run_cli("down", info["handle"])
        self.assertEqual(down.returncode, 0, down.stderr)
        self.assertGone(info["handle"], pid)

    def test_forwarder_of_a_killed_owner_ends_and_the_next_chain_removes_the_rest(self):
        script = ("import sys, time, netns_path\n"
                  "p = netns_path.NetnsPath(routers=1, delay_ms=1, delay_link=%r).up()\n"
                  "print(p.handle, p.forwarder_pid, flush=True)\n"
                  "time.sleep(600)\n" % DELAY_LINK)
        env = dict(os.environ, PYTHONPATH=os.path.dirname(FIXTURE))
        owner = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True, env=env)
        try:
            handle, pid = owner.stdout.readline().split()
            pid = int(pid)
            self.addCleanup(netns_path.remove_handle, handle)
            owner.send_signal(signal.SIGKILL)  # no chance to clean up
            owner.wait(timeout=HANG_GUARD)
        finally:
            if owner.poll() is None:
                owner.kill()
                owner.wait()
            owner.stdout.close()
        # The forwarder watches its owner and ends at once by itself.
        self.assertTrue(wait_until(lambda: not alive(pid), 5.0), "forwarder outlived its owner")
        with NetnsPath(routers=0):
            pass
        self.assertGone(handle, pid)

    def test_forwarder_ends_when_its_links_are_removed(self):
        path = NetnsPath(routers=1, delay_ms=1, delay_link=DELAY_LINK, emulator_owner=0).up()
        self.addCleanup(path.down)
        pid = path.forwarder_pid
        # Namespaces removed behind the fixture's back: the veth pairs go with them.
        subprocess.run(["ip", "-force", "-batch", "-"], input="".join(
            "netns del %s\n" % n for n in path.namespaces + path.link_namespaces), text=True, check=True)
        self.assertTrue(wait_until(lambda: not alive(pid), 10.0), "forwarder kept running without its links")


if __name__ == "__main__":
    unittest.main()
