"""Checks that the router fixture really behaves like the network the tracer
tests assume, using hand-made ICMP echo probes sent from the source namespace.

Nothing here waits for an answer to *not* come: a silent hop is proven silent
by its nftables counter (it did make the answer, and the answer was dropped),
and probes sent later along the same path are answered only after the earlier
ones were handled, so an answer missing by then is missing for good.
"""

import json
import os
import select
import socket
import struct
import subprocess
import sys
import time
import unittest

import netns_path
from netns_path import NetnsPath

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "netns_path.py")
# Safety net only, so a broken fixture fails instead of hanging the run; the
# kernel answers on these links in microseconds.
HANG_GUARD = 30.0

ICMP_ECHO_REPLY = 0
ICMP_DEST_UNREACH = 3
ICMP_ECHO = 8
ICMP_TIME_EXCEEDED = 11


def load_tests(loader, tests, pattern):
    netns_path.exit_unless_available()
    return tests


class Prober:
    """A raw ICMP socket living in the source namespace."""

    def __init__(self, path: NetnsPath):
        with netns_path._InNamespace(path.source_ns):
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.ident = os.getpid() & 0xFFFF
        self.seq = 0
        self.stray = []

    def close(self):
        self.sock.close()

    def send(self, address: str, ttl: int) -> int:
        self.seq += 1
        header = struct.pack("!BBHHH", ICMP_ECHO, 0, 0, self.ident, self.seq)
        payload = b"hoplantern-fixture"
        packet = struct.pack("!BBHHH", ICMP_ECHO, 0, netns_path.icmp_checksum(header + payload),
                             self.ident, self.seq) + payload
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, ttl)
        self.sock.sendto(packet, (address, 0))
        return self.seq

    def _parse(self, data: bytes):
        """(answering address, type, code, seq) when the packet answers one of ours."""
        ihl = (data[0] & 0x0F) * 4
        source = socket.inet_ntoa(data[12:16])
        icmp_type, code = data[ihl], data[ihl + 1]
        if icmp_type == ICMP_ECHO_REPLY:
            ident, seq = struct.unpack("!HH", data[ihl + 4:ihl + 8])
        elif icmp_type in (ICMP_TIME_EXCEEDED, ICMP_DEST_UNREACH):
            inner = data[ihl + 8:]
            inner_ihl = (inner[0] & 0x0F) * 4
            quoted = inner[inner_ihl:inner_ihl + 8]
            if len(quoted) < 8 or quoted[0] != ICMP_ECHO:
                return None
            ident, seq = struct.unpack("!HH", quoted[4:8])
        else:
            return None
        if ident != self.ident:
            return None
        return source, icmp_type, code, seq

    def answer(self, seq: int):
        """Waits for the answer to probe `seq`; returns (address, type, code)."""
        deadline = time.monotonic() + HANG_GUARD
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no answer to probe %d" % seq)
            ready, _, _ = select.select([self.sock], [], [], left)
            if not ready:
                continue
            parsed = self._parse(self.sock.recv(2048))
            if parsed and parsed[3] == seq:
                return parsed[:3]
            if parsed:
                self.stray.append(parsed)

    def pending(self):
        """Answers already queued, without waiting."""
        found = list(self.stray)
        self.stray.clear()
        while select.select([self.sock], [], [], 0)[0]:
            parsed = self._parse(self.sock.recv(2048))
            if parsed:
                found.append(parsed)
        return found


def drop_count(ns: str) -> int:
    out = subprocess.run(["ip", "netns", "exec", ns, "nft", "-j", "list", "table", "ip", "hoplantern_fixture"],
                         capture_output=True, text=True, check=True).stdout
    for item in json.loads(out)["nftables"]:
        rule = item.get("rule")
        if rule:
            for expr in rule["expr"]:
                if "counter" in expr:
                    return expr["counter"]["packets"]
    raise AssertionError("no counter in the silent hop's rule")


def read_sysctl(ns: str, name: str) -> str:
    with netns_path._InNamespace(ns):
        with open("/proc/sys/" + name.replace(".", "/")) as f:
            return f.read().strip()


class PathFixture:
    """One fixture per class; always removed, whatever happens to the tests."""
    path_args: dict = {}

    @classmethod
    def setUpClass(cls):
        cls.path = NetnsPath(**cls.path_args).up()
        cls.addClassCleanup(cls.path.down)

    def setUp(self):
        self.prober = Prober(self.path)
        self.addCleanup(self.prober.close)


class AnsweringPath(PathFixture, unittest.TestCase):
    path_args = {"routers": 4, "names": True}

    def test_each_router_answers_from_its_interface_facing_the_source(self):
        for router in self.path.routers:
            seq = self.prober.send(self.path.target, ttl=router.hop)
            self.assertEqual(self.prober.answer(seq), (router.address, ICMP_TIME_EXCEEDED, 0))

    def test_target_answers_echo_for_every_ttl_past_the_routers(self):
        for ttl in (5, 6, 16, 64):
            seq = self.prober.send(self.path.target, ttl=ttl)
            self.assertEqual(self.prober.answer(seq), (self.path.target, ICMP_ECHO_REPLY, 0))

    def test_a_routers_far_address_is_reached_at_that_router(self):
        router = self.path.routers[1]
        seq = self.prober.send(router.far_address, ttl=router.hop)
        self.assertEqual(self.prober.answer(seq), (router.far_address, ICMP_ECHO_REPLY, 0))

    def test_nothing_outside_the_test_range_is_routed_from_the_source(self):
        # The machine's resolver lives in a private range: a probe for it
        # must fail inside the namespace, not go anywhere.
        out = subprocess.run(["ip", "-n", self.path.source_ns, "-j", "route", "show", "table", "all"],
                             capture_output=True, text=True, check=True).stdout
        ipv4 = {r["dst"] for r in json.loads(out) if "." in r["dst"] or r["dst"] == "default"}
        self.assertNotIn("default", ipv4)
        for dst in ipv4:
            self.assertTrue(dst.startswith(("198.18.", "127.")), dst)
        result = subprocess.run(["ip", "-n", self.path.source_ns, "route", "get", "10.255.255.53"],
                                capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("unreachable", result.stderr)
        out = subprocess.run(["ip", "-n", self.path.source_ns, "-j", "link"],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(sorted(link["ifname"] for link in json.loads(out)), ["e0", "lo"])

    def test_deterministic_icmp_limits_in_every_namespace(self):
        for ns in self.path.namespaces:
            self.assertEqual(read_sysctl(ns, "net.ipv4.icmp_ratelimit"), "0", ns)
        for router in self.path.routers:
            self.assertEqual(read_sysctl(router.ns, "net.ipv4.ip_forward"), "1")
        self.assertEqual(read_sysctl(self.path.source_ns, "net.ipv4.ip_forward"), "0")
        self.assertEqual(read_sysctl(self.path.source_ns, "net.ipv4.ping_group_range").split(),
                         ["0", "2147483647"])

    def test_many_quick_probes_all_answered(self):
        # With the kernel's default limits a router answers a few probes and
        # then about one a second; the fixture turns that off.
        router = self.path.routers[2]
        seqs = [self.prober.send(self.path.target, ttl=router.hop) for _ in range(200)]
        for seq in seqs:
            self.assertEqual(self.prober.answer(seq)[0], router.address)

    def test_names_resolve_inside_the_source_namespace_only(self):
        script = ("import socket\n"
                  "print(socket.gethostbyaddr('198.18.2.2')[0])\n"
                  "print(socket.gethostbyname('target.path.test'))\n"
                  "try:\n"
                  "    socket.gethostbyname('no-such-host.invalid'); print('resolved')\n"
                  "except OSError:\n"
                  "    print('unresolved')\n")
        out = subprocess.run(self.path.exec_args(sys.executable, "-c", script),
                             capture_output=True, text=True, check=True, timeout=HANG_GUARD).stdout
        self.assertEqual(out.split(), ["r2.path.test", self.path.target, "unresolved"])
        self.assertEqual([r.name for r in self.path.routers],
                         ["r1.path.test", "r2.path.test", "r3.path.test", "r4.path.test"])
        self.assertEqual(self.path.target_name, "target.path.test")


class UnroutedAddress(PathFixture, unittest.TestCase):
    # A fixture of its own: "network unreachable" answers share a per-source
    # budget with r1's other ICMP and are cut to about one a second once it
    # is spent (machine-wide sysctls, not per namespace).  The first answer
    # r1 ever sends to the source is always allowed.
    path_args = {"routers": 1}

    def test_unrouted_address_gets_network_unreachable_from_r1(self):
        seq = self.prober.send(netns_path.UNROUTED_ADDRESS, ttl=64)
        self.assertEqual(self.prober.answer(seq), (self.path.routers[0].address, ICMP_DEST_UNREACH, 0))


class SilentRouter(PathFixture, unittest.TestCase):
    path_args = {"routers": 4, "silent": [2]}

    def test_silent_router_makes_its_answer_and_drops_it(self):
        before = drop_count(self.path.routers[1].ns)
        silent = self.prober.send(self.path.target, ttl=2)
        # Sent after the first along the same path: once it is answered,
        # router 2 has long handled the first probe.
        later = self.prober.send(self.path.target, ttl=3)
        self.assertEqual(self.prober.answer(later)[0], self.path.routers[2].address)
        self.assertEqual([a for a in self.prober.pending() if a[3] == silent], [])
        self.assertEqual(drop_count(self.path.routers[1].ns), before + 1)

    def test_routers_on_either_side_still_answer(self):
        for hop in (1, 3, 4):
            seq = self.prober.send(self.path.target, ttl=hop)
            self.assertEqual(self.prober.answer(seq)[0], self.path.routers[hop - 1].address)
        seq = self.prober.send(self.path.target, ttl=5)
        self.assertEqual(self.prober.answer(seq), (self.path.target, ICMP_ECHO_REPLY, 0))


class SilentTarget(PathFixture, unittest.TestCase):
    path_args = {"routers": 2, "target_silent": True}

    def test_target_makes_no_answer_leave(self):
        before = drop_count(self.path.target_ns)
        seq = self.prober.send(self.path.target, ttl=64)
        deadline = time.monotonic() + HANG_GUARD
        while drop_count(self.path.target_ns) == before:
            self.assertLess(time.monotonic(), deadline, "the target never saw the probe")
            time.sleep(0.01)
        # The counter counts the reply as it is dropped, so it never left.
        self.assertEqual([a for a in self.prober.pending() if a[3] == seq], [])

    def test_routers_still_answer(self):
        for router in self.path.routers:
            seq = self.prober.send(self.path.target, ttl=router.hop)
            self.assertEqual(self.prober.answer(seq)[0], router.address)


class Lifecycle(unittest.TestCase):
    def assertGone(self, handle):
        self.assertEqual(netns_path.namespaces_of(handle), [])
        self.assertFalse(os.path.exists(os.path.join(netns_path.ETC_NETNS, handle + "-src")))
        self.assertFalse(os.path.exists(os.path.join(netns_path.OWNERS_DIR, handle)))

    def test_with_block_removes_everything_even_on_error(self):
        with self.assertRaises(RuntimeError):
            with NetnsPath(routers=2, names=True, silent=[1]) as path:
                self.assertEqual(len(netns_path.namespaces_of(path.handle)), 4)
                self.assertTrue(os.path.exists(path.hosts_file))
                raise RuntimeError("test body failed")
        self.assertGone(path.handle)

    def test_two_fixtures_side_by_side_do_not_clash(self):
        with NetnsPath(routers=1) as a, NetnsPath(routers=1) as b:
            self.assertNotEqual(a.handle, b.handle)
            self.assertEqual(a.target, b.target)
        self.assertGone(a.handle)
        self.assertGone(b.handle)

    def run_cli(self, *args):
        return subprocess.run([sys.executable, FIXTURE, *args], capture_output=True, text=True,
                              timeout=HANG_GUARD)

    def test_command_line_up_json_then_down(self):
        up = self.run_cli("up", "--routers", "3", "--silent", "2", "--target-silent", "--names", "--json")
        self.assertEqual(up.returncode, 0, up.stderr)
        info = json.loads(up.stdout)
        self.addCleanup(netns_path.remove_handle, info["handle"])
        self.assertEqual(info["target"], "198.18.4.2")
        self.assertEqual(info["source_ns"], info["handle"] + "-src")
        self.assertEqual([(r["address"], r["name"], r["silent"]) for r in info["routers"]],
                         [("198.18.1.2", "r1.path.test", False), ("198.18.2.2", "r2.path.test", True),
                          ("198.18.3.2", "r3.path.test", False)])
        self.assertTrue(info["target_silent"])
        self.assertEqual(sorted(netns_path.namespaces_of(info["handle"])), sorted(info["namespaces"]))
        down = self.run_cli("down", info["handle"])
        self.assertEqual(down.returncode, 0, down.stderr)
        self.assertGone(info["handle"])

    def test_command_line_up_prints_shell_assignments(self):
        up = self.run_cli("up", "--routers", "2", "--icmp-ratelimit", "1000")
        self.assertEqual(up.returncode, 0, up.stderr)
        values = dict(line.split("=", 1) for line in up.stdout.splitlines())
        handle = values["NETNS_PATH_HANDLE"]
        self.addCleanup(netns_path.remove_handle, handle)
        self.assertEqual(values["NETNS_PATH_SRC"], handle + "-src")
        self.assertEqual(values["NETNS_PATH_TARGET"], "198.18.3.2")
        self.assertEqual(read_sysctl(handle + "-r1", "net.ipv4.icmp_ratelimit"), "1000")
        self.assertEqual(self.run_cli("down", handle).returncode, 0)
        self.assertGone(handle)

    def test_command_line_rejects_bad_requests(self):
        self.assertEqual(self.run_cli("up", "--routers", "2", "--silent", "3").returncode, 2)
        self.assertEqual(self.run_cli("down", "hlpath-nothex!").returncode, 2)
        self.assertEqual(self.run_cli("down", "hlpath-00000000").returncode, 0)  # nothing left: fine

    def test_run_removes_everything_and_passes_the_exit_code_on(self):
        run = self.run_cli("run", "--routers", "2", "--inside", "--",
                           "sh", "-c", "ip -br addr show e0; exit 7")
        self.assertEqual(run.returncode, 7, run.stderr)
        self.assertIn("198.18.1.1/24", run.stdout)

    def test_sigterm_removes_everything(self):
        proc = subprocess.Popen([sys.executable, FIXTURE, "run", "--routers", "3", "--names", "--",
                                 "sh", "-c", 'echo "$NETNS_PATH_HANDLE"; exec sleep 600'],
                                stdout=subprocess.PIPE, text=True)
        try:
            handle = proc.stdout.readline().strip()
            self.addCleanup(netns_path.remove_handle, handle)  # should the fixture fail to
            self.assertEqual(len(netns_path.namespaces_of(handle)), 5)
            proc.terminate()
            proc.wait(timeout=HANG_GUARD)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
        self.assertGone(handle)

    def test_chain_of_a_killed_owner_is_removed_by_the_next_one(self):
        # SIGKILL (a ctest timeout does that) leaves no chance to clean up.
        owner = subprocess.Popen(["sleep", "600"])
        try:
            up = self.run_cli("up", "--routers", "1", "--names", "--owner", str(owner.pid))
            self.assertEqual(up.returncode, 0, up.stderr)
            handle = dict(line.split("=", 1) for line in up.stdout.splitlines())["NETNS_PATH_HANDLE"]
            self.addCleanup(netns_path.remove_handle, handle)
            with NetnsPath(routers=1):
                pass
            self.assertEqual(len(netns_path.namespaces_of(handle)), 3, "owner alive: kept")
        finally:
            owner.kill()
            owner.wait()
        with NetnsPath(routers=1):
            pass
        self.assertGone(handle)
        self.assertFalse(os.path.exists(os.path.join(netns_path.OWNERS_DIR, handle)))

    def test_chain_without_owner_stays_until_down(self):
        up = self.run_cli("up", "--routers", "1")
        self.assertEqual(up.returncode, 0, up.stderr)
        handle = dict(line.split("=", 1) for line in up.stdout.splitlines())["NETNS_PATH_HANDLE"]
        self.addCleanup(netns_path.remove_handle, handle)
        with NetnsPath(routers=1):
            pass
        self.assertEqual(len(netns_path.namespaces_of(handle)), 3)

    def test_exit_without_removal_is_cleaned_at_exit(self):
        script = ("import netns_path\n"
                  "p = netns_path.NetnsPath(routers=1, names=True).up()\n"
                  "print(p.handle)\n")
        out = subprocess.run([sys.executable, "-c", script], cwd=HERE, capture_output=True, text=True,
                             check=True, timeout=HANG_GUARD).stdout
        self.assertGone(out.strip())


if __name__ == "__main__":
    unittest.main()
