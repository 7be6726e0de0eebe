"""hoplantern-cli tracing through real kernel routers (tools/netpath).

The tracer always runs inside a path's source namespace, which routes nothing
but the path's own 198.18.0.0/15.  HOPLANTERN_CLI names the binary (ctest sets
it); without it, root or a usable `ip netns` the run exits 77 (skipped).

--json prints {"host": as typed, "target": address or null, "status": ..., "reached",
"hops": [{"hop", "address" or null, "time_ms": int or null, "host", "result"}]}; rows after
the first "complete" are dropped, and of the unanswered rows at the end only the
first is kept.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from tools.netpath import NetnsPath, exit_unless_available

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLI = os.environ.get("HOPLANTERN_CLI", "")
DELAY_LINK = os.environ.get("HL_DELAY_LINK", "")
HANG_GUARD = 300  # against a hung tracer only; every trace here takes seconds at most
RTT_TOLERANCE_MS = 3.0
UNRESOLVABLE = "no-such-host.invalid"
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
FULL = {"routers": 4, "names": True}
SLOW_WAIT = ["-t", "2", "-w", "300"]

# name, path, arguments ({target}, {r3}: addresses), rows, expected fields, exit code.
# Rows: rK router K answered ("next"), rK! router K ended the trace, T the target
# did ("complete"), * nobody answered ("failed").
SCENARIOS = [
    ("every hop answers", FULL, ["-n", "-m", "16", "{target}"], "r1 r2 r3 r4 T",
     {"host": "{target}", "target": "{target}", "status": "Complete.", "reached": True}, 0),
    ("names from the hosts file", FULL, ["-m", "16", "{target}"], "r1 r2 r3 r4 T", {}, 0),
    ("host given by name is kept as typed", FULL, ["-n", "-m", "16", "target.path.test"], "r1 r2 r3 r4 T",
     {"host": "target.path.test", "target": "{target}", "status": "Complete."}, 0),
    ("trace to a router ends there", FULL, ["-n", "-m", "16", "{r3}"], "r1 r2 r3!", {"status": "Complete."}, 0),
    ("max hops short of the target", FULL, ["-n", "-m", "2", "{target}"], "r1 r2", {}, 0),
    ("unresolvable host", FULL, [UNRESOLVABLE], "",
     {"host": UNRESOLVABLE, "target": None, "status": "Lookup of %s failed dramatically" % UNRESOLVABLE,
      "reached": False}, 1),
    ("silent router between answers", {"routers": 5, "silent": [3]}, ["-n", *SLOW_WAIT, "-m", "16", "{target}"],
     "r1 r2 * r4 r5 T", {"status": "Complete."}, 0),
    ("two silent routers in a row, nothing trimmed", {"routers": 5, "silent": [2, 3]},
     ["-n", *SLOW_WAIT, "-m", "16", "{target}"], "r1 * * r4 r5 T", {}, 0),
    ("silent target: one unknown row after the last router", {"routers": 3, "target_silent": True},
     ["-n", *SLOW_WAIT, "-m", "8", "{target}"], "r1 r2 r3 *", {"target": "{target}", "reached": False}, 0),
    ("last router and target silent", {"routers": 3, "silent": [3], "target_silent": True},
     ["-n", *SLOW_WAIT, "-m", "8", "{target}"], "r1 r2 *", {}, 0),
]

_paths: dict[str, NetnsPath] = {}


def load_tests(loader, tests, pattern):
    ok = CLI and os.access(CLI, os.X_OK)
    exit_unless_available(None if ok else "HOPLANTERN_CLI is not a built hoplantern-cli: run this through ctest")
    return tests


def path_for(args: dict) -> NetnsPath:
    """One path for each set of arguments, shared by every test, removed at the end."""
    key = json.dumps(args, sort_keys=True)
    if key not in _paths:
        _paths[key] = NetnsPath(delay_link=DELAY_LINK, **args).up()
        unittest.addModuleCleanup(_paths[key].down)
    return _paths[key]


def trace(path: NetnsPath, *args: str, prefix=(), binary: str = CLI) -> subprocess.CompletedProcess:
    return subprocess.run(path.exec_args(*prefix, binary, *args), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=HANG_GUARD)


def copies_for_nobody(case: type, capable: bool = False) -> list:
    """Copies of the tracer the unprivileged user can reach, removed with the class; with
    `capable`, a second copy holds CAP_NET_RAW as a file capability."""
    bindir = tempfile.mkdtemp(prefix="hoplantern-")
    os.chmod(bindir, 0o755)
    case.addClassCleanup(shutil.rmtree, bindir)
    copies = [os.path.join(bindir, name) for name in ("hoplantern-cli", "hoplantern-cli-cap")[:1 + capable]]
    for copy in copies:
        shutil.copy(CLI, copy)
        os.chmod(copy, 0o755)
    if capable:
        subprocess.run(["setcap", "cap_net_raw+ep", copies[1]], check=True)
    return copies


def rows_of(done: subprocess.CompletedProcess) -> list:
    """Everything of each row but its time, which differs from run to run."""
    return [(h["hop"], h["address"], h["host"], h["result"], h["time_ms"] is not None)
            for h in json.loads(done.stdout)["hops"]]


class Scenarios(unittest.TestCase):
    maxDiff = None

    def test_rows_of_each_scenario(self):
        for name, path_args, args, rows, fields, code in SCENARIOS:
            with self.subTest(name):
                path = path_for(path_args)
                places = {"{target}": path.target, "{r3}": path.routers[2].address if path.router_count > 2 else ""}
                args = [places.get(a, a) for a in args]
                done = trace(path, "--json", *args)
                context = "exit %d\n--- stdout\n%s--- stderr\n%s" % (done.returncode, done.stdout, done.stderr)
                self.assertEqual(done.returncode, code, context)
                doc = json.loads(done.stdout)
                for key, value in fields.items():
                    self.assertEqual(doc[key], places.get(value, value), context)
                self.assertEqual([self.row(path, token, "-n" not in args) for token in rows.split()],
                                 [(h["address"], h["result"], type(h["time_ms"]), h["host"] or None)
                                  for h in doc["hops"]], context)
                self.assertEqual([h["hop"] for h in doc["hops"]], list(range(1, len(doc["hops"]) + 1)))

    @staticmethod
    def row(path: NetnsPath, token: str, names: bool) -> tuple:
        if token == "*":
            return (None, "failed", type(None), None)
        if token == "T":
            return (path.target, "complete", int, path.target_name if names else None)
        router = path.routers[int(token[1:].rstrip("!")) - 1]
        return (router.address, "complete" if token.endswith("!") else "next", int, router.name if names else None)

    def test_usage_errors(self):
        # Exit status 2 for what the option parser refuses; each message is tst_cli's.
        path = path_for(FULL)
        for name, args in (("no host", []), ("no hops", ["-m", "0", path.target]), ("no tries", ["-t0", path.target])):
            with self.subTest(name):
                done = trace(path, "--json", *args)
                self.assertEqual(done.returncode, 2, done.stdout + done.stderr)


@unittest.skipUnless(shutil.which("setpriv") and shutil.which("setcap"), "needs setpriv and setcap")
class Privileges(unittest.TestCase):
    """Root reads answers from a raw socket, an unprivileged user from the probe
    sockets' error queues, a user given CAP_NET_RAW as a file capability opens the
    raw socket and then gives the capability up. All must show the same rows, over
    IPv4 and over IPv6."""
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.plain, cls.capable = copies_for_nobody(cls, capable=True)
        cls.path = path_for({"routers": 4, "silent": [2], "names": True})

    def test_same_rows_with_and_without_privilege(self):
        for path, results in ((self.path, "next failed next next complete"),
                              (path_for({"routers": 4, "family": "6", "silent": [3], "names": True}),
                               "next next failed next complete")):
            with self.subTest(target=path.target):
                runs = {name: trace(path, "--json", "-t", "2", "-w", "400", path.target, prefix=prefix, binary=b)
                        for name, prefix, b in (("root", (), self.plain), ("unprivileged", AS_NOBODY, self.plain),
                                                ("file capability", AS_NOBODY, self.capable))}
                for name, done in runs.items():
                    self.assertEqual(done.returncode, 0, name + ": " + done.stderr)
                expected = rows_of(runs["root"])
                self.assertEqual([r[3] for r in expected], results.split())
                self.assertEqual(expected[0][2], "r1.path.test")
                for name in ("unprivileged", "file capability"):
                    self.assertEqual(rows_of(runs[name]), expected, name)

    def test_capability_given_up_after_start(self):
        # A trace to a silent router's hop count keeps the process alive for its wait.
        proc = subprocess.Popen(self.path.exec_args(*AS_NOBODY, self.capable, "-n", "-t", "1", "-w", "3000", "-m",
                                                    "2", self.path.routers[1].address),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        caps, name = {}, ""
        try:
            # The tracer is the last of the chain ip netns exec / setpriv exec into; it
            # has the capability until its socket is open, then none.
            while not (name.startswith("hoplantern") and caps.get("CapEff") == 0) and proc.poll() is None:
                with open("/proc/%d/status" % proc.pid) as f:
                    status = dict(line.split(":\t", 1) for line in f.read().splitlines() if ":\t" in line)
                name, caps = status["Name"], {k: int(v, 16) for k, v in status.items() if k.startswith("Cap")}
                time.sleep(0.01)
        finally:
            out, err = proc.communicate(timeout=HANG_GUARD)
        self.assertEqual(proc.returncode, 0, err)
        self.assertIn("198.18.1.2", out, "the capability was used: the raw socket received the answer")
        self.assertEqual((caps.get("CapEff"), caps.get("CapPrm")), (0, 0), caps)

    def test_no_route_ends_at_once(self):
        # The source routes only 198.18.0.0/15: no probe to these can leave.
        for name, prefix, binary in (("root", (), self.plain), ("unprivileged", AS_NOBODY, self.plain),
                                     ("file capability", AS_NOBODY, self.capable)):
            for args in (["203.0.113.5"], ["--fixed-flow", "10.1.2.3"], ["3fff::5"]):
                with self.subTest(name, args=args):
                    started = time.monotonic()
                    done = trace(self.path, "--json", "-n", "-w", "10000", *args, prefix=prefix, binary=binary)
                    took = time.monotonic() - started
                    self.assertEqual(done.returncode, 4, done.stdout + done.stderr)
                    self.assertIn("Network is unreachable", done.stderr)
                    self.assertEqual(json.loads(done.stdout)["status"], "Network is unreachable")
                    self.assertLess(took, 5, "it waited for the answers")


class UnrelatedIcmpFlood(unittest.TestCase):
    """A router next to the tracer floods it with ICMP quoting no probe of the trace;
    the tracer must read past all of it and show the same rows."""

    def test_flood_changes_no_row(self):
        path = path_for({"routers": 4, "silent": [3]})
        args = ("--json", "-n", "-t", "3", "-w", "700", path.target)
        quiet = rows_of(trace(path, *args))
        flood = subprocess.Popen(["ip", "netns", "exec", path.routers[0].ns, sys.executable, "-m", "tools.icmp_flood",
                                  "--to", path.source_address, "--rate", "5000", "--seconds", "4"],
                                 cwd=ROOT, stdout=subprocess.PIPE, text=True)
        try:
            flooded = rows_of(trace(path, *args))
        finally:
            sent = int(flood.communicate(timeout=HANG_GUARD)[0] or 0)
        self.assertGreater(sent, 1000, "the flood did not run")
        self.assertEqual(flooded, quiet)
        self.assertEqual([r[3] for r in quiet], ["next", "next", "failed", "next", "complete"])


class EmulatedRoundTrips(unittest.TestCase):
    def test_time_is_the_emulated_round_trip(self):
        path = path_for({"routers": 2, "delay_ms": 10})
        done = trace(path, "-n", "--json", "-m", "3", path.target)
        self.assertEqual(done.returncode, 0, done.stderr)
        hops = json.loads(done.stdout)["hops"]
        self.assertEqual([(h["address"], h["result"]) for h in hops],
                         [("198.18.1.2", "next"), ("198.18.2.2", "next"), (path.target, "complete")])
        for h in hops:
            self.assertIsNotNone(h["time_ms"], h)
            self.assertLessEqual(abs(h["time_ms"] - path.rtt_ms(h["hop"])), RTT_TOLERANCE_MS, h)


def offload_off(path: NetnsPath) -> None:
    """Transmit checksum offload off on the source's interfaces: a veth otherwise sends
    an unfinished UDP checksum, and routers quote that instead of the probe's tag."""
    links = subprocess.run(["ip", "-n", path.source_ns, "-o", "link", "show"], capture_output=True, text=True,
                           check=True).stdout
    for name in re.findall(r"^\d+: ([^:@]+)", links, re.M):
        if name != "lo":
            subprocess.run(path.exec_args("ethtool", "-K", name, "tx", "off"), capture_output=True, check=True)


FLOW_PRIVILEGES = (("raw socket", ()), ("error queue", AS_NOBODY))


@unittest.skipUnless(shutil.which("setpriv") and shutil.which("ethtool"), "needs setpriv and ethtool")
class FixedFlowThroughEcmp(unittest.TestCase):
    """r1 splits into two equal-cost branches (hops 2 and 3), r4 joins them. With a
    port per hop, hop 2's probe and hop 3's are hashed apart, and some table links
    routers that are not connected; on one flow every table shows one real branch."""
    TRACES = 20

    @classmethod
    def setUpClass(cls):
        cls.path = path_for({"routers": 5, "ecmp": 1, "family": "dual"})
        offload_off(cls.path)
        cls.binary, = copies_for_nobody(cls)
        cls.branch = {a: r.branch for r in cls.path.routers if r.branch for a in (r.address, r.address6)}

    def branches(self, family: str, fixed: bool, prefix=()) -> list:
        """The branch of hop 2's and hop 3's answer in each of the traces."""
        target = self.path.target if family == "4" else self.path.target6
        args = ["--json", "-n", "-m", "10", "-w", "1000", "-" + family, *(["--fixed-flow"] if fixed else []), target]
        tables = []
        for _ in range(self.TRACES):
            done = trace(self.path, *args, prefix=prefix, binary=self.binary)
            self.assertEqual(done.returncode, 0, done.stderr)
            hops = json.loads(done.stdout)["hops"]
            self.assertEqual((hops[-1]["address"], hops[-1]["result"], len(hops)), (target, "complete", 6), hops)
            tables.append(tuple(self.branch.get(h["address"], "?") for h in hops[1:3]))
        return tables

    def test_default_mode_shows_a_path_that_does_not_exist(self):
        for family in ("4", "6"):
            with self.subTest(family=family):
                tables = self.branches(family, False)
                self.assertTrue(any(a != b for a, b in tables), tables)

    def test_fixed_flow_shows_one_real_branch(self):
        for family in ("4", "6"):
            for name, prefix in FLOW_PRIVILEGES:
                with self.subTest(family=family, answers=name):
                    tables = self.branches(family, True, prefix)
                    self.assertTrue(all(a == b and a in "ab" for a, b in tables), tables)


def quote_28_bytes(case: unittest.TestCase, path_args: dict, hop: int) -> NetnsPath:
    """The path, with router `hop` (a silent one) answering quoting 28 bytes until the
    test ends."""
    path = path_for(path_args)
    offload_off(path)
    router = path.routers[hop - 1]
    addrs = subprocess.run(["ip", "-n", router.ns, "-o", "-4", "addr", "show"], capture_output=True,
                           text=True).stdout
    interface = re.search(r"^\d+: (\S+)\s+inet %s/" % re.escape(router.address), addrs, re.M).group(1)
    responder = subprocess.Popen(["ip", "netns", "exec", router.ns, sys.executable, "-m", "tools.short_quote_router",
                                  "--interface", interface, "--address", router.address, "--seconds", "120"],
                                 cwd=ROOT, stdout=subprocess.PIPE, text=True)
    case.addCleanup(responder.stdout.close)
    case.addCleanup(responder.wait)
    case.addCleanup(responder.terminate)
    case.assertEqual(responder.stdout.readline().strip(), "ready")
    return path


@unittest.skipUnless(shutil.which("setpriv") and shutil.which("ethtool"), "needs setpriv and ethtool")
class FixedFlowShortQuote(unittest.TestCase):
    """A router quotes only 28 bytes (tools/short_quote_router.py stands in for its
    kernel): the raw socket reads the tag from the quoted checksum; the error queue
    gets no tag at all and finds the row by probing the silent rows one at a time."""

    @classmethod
    def setUpClass(cls):
        cls.binary, = copies_for_nobody(cls)

    def flow_trace(self, path: NetnsPath, *args: str, prefix=AS_NOBODY) -> tuple:
        start = time.monotonic()
        done = trace(path, "--json", "-n", "--fixed-flow", *args, path.target, prefix=prefix, binary=self.binary)
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)["hops"], time.monotonic() - start

    def test_row_of_a_router_quoting_28_bytes(self):
        path = quote_28_bytes(self, {"routers": 4, "silent": [2]}, 2)
        expected = [(r.address, "next") for r in path.routers] + [(path.target, "complete")]
        for name, prefix, pacing in (*((n, p, ()) for n, p in FLOW_PRIVILEGES),
                                     ("error queue, full wait", AS_NOBODY, ("--fixed-wait",))):
            with self.subTest(answers=name):
                hops, _ = self.flow_trace(path, "-t", "3", "-w", "1000", *pacing, prefix=prefix)
                self.assertEqual([(h["address"], h["result"]) for h in hops], expected)

    def test_probing_one_at_a_time_keeps_to_the_wait(self):
        # A filtered target: every row past router 3 is probed alone and stays silent,
        # yet no round lasts longer than the wait.
        path = quote_28_bytes(self, {"routers": 3, "silent": [2], "target_silent": True}, 2)
        hops, seconds = self.flow_trace(path, "-m", "10", "-t", "3", "-w", "500")
        self.assertEqual([(h["address"], h["result"]) for h in hops],
                         [(r.address, "next") for r in path.routers] + [(None, "failed")])
        self.assertLess(seconds, 3 * 0.5 + 1.0)

    def test_late_answer_without_a_tag_stays_in_its_row(self):
        # Router 3 quotes 28 bytes and its answers leave 250 ms late, after two more
        # rounds have left; router 2 is silent. Router 3's answer to an early round must
        # not land in hop 2's lone probe (the rounds: three full, then alone hop 2, hop 3).
        path = quote_28_bytes(self, {"routers": 4, "silent": [2, 3], "late_icmp": {3: 250}}, 3)
        hops, _ = self.flow_trace(path, "-t", "6", "-w", "600")
        self.assertEqual([(h["address"], h["result"]) for h in hops],
                         [(path.routers[0].address, "next"), (None, "failed")]
                         + [(r.address, "next") for r in path.routers[2:]] + [(path.target, "complete")])
        self.assertAlmostEqual(hops[2]["time_ms"], 250 + path.rtt_ms(3), delta=25)


if __name__ == "__main__":
    unittest.main()
