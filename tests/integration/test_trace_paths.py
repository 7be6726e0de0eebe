"""hoplantern-cli tracing through real kernel routers (see netns_path.py).

The tracer always runs inside the fixture's source namespace, which routes
nothing but the fixture's own 198.18.0.0/15 chain.  HOPLANTERN_CLI names the
binary; ctest sets it.  Without root or a usable `ip netns`, or without
HOPLANTERN_CLI, the whole run exits 77 so ctest reports a skip and says why.

Expected output, as the program prints it with --json:
  {"host": as typed, "target": dotted address or "unknown", "status": final status,
   "hops": [{"hop": 1, "address": ..., "time_ms": int or null, "host": name,
             "result": "next" | "complete" | "failed" ...}, ...]}
Rows after the first "complete" are dropped, and of the unanswered rows at
the end only the first is kept.
"""

import json
import os
import subprocess
import unittest

import netns_path
from netns_path import NetnsPath

CLI = os.environ.get("HOPLANTERN_CLI", "")
# Safety net against a hung tracer, not a measure of speed: every trace here
# finishes in a few seconds at most.
HANG_GUARD = 300

EXIT_DONE, EXIT_LOOKUP_FAILED, EXIT_USAGE = 0, 1, 2
UNRESOLVABLE = "no-such-host.invalid"


def load_tests(loader, tests, pattern):
    netns_path.exit_unless_available(
        None if CLI else "HOPLANTERN_CLI is not set: build hoplantern-cli and run this through ctest")
    return tests


def setUpModule():
    if not (os.path.isfile(CLI) and os.access(CLI, os.X_OK)):
        raise RuntimeError("HOPLANTERN_CLI=%r is not an executable file: was hoplantern-cli built?" % CLI)


class Trace:
    def __init__(self, proc: subprocess.CompletedProcess):
        self.exit = proc.returncode
        self.stdout = proc.stdout
        self.stderr = proc.stderr
        try:
            self.doc = json.loads(proc.stdout)
        except ValueError:
            self.doc = None

    def describe(self) -> str:
        return "exit %d\n--- stdout\n%s--- stderr\n%s" % (self.exit, self.stdout, self.stderr)

    @property
    def hops(self) -> list:
        return self.doc["hops"]


class TraceCase(unittest.TestCase):
    """One chain of routers per class, removed however the class ends."""
    path_args: dict = {}
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.path = NetnsPath(**cls.path_args).up()
        cls.addClassCleanup(cls.path.down)

    def run_cli(self, *args: str) -> Trace:
        proc = subprocess.run(self.path.exec_args(CLI, *args), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=HANG_GUARD)
        return Trace(proc)

    def trace(self, *args: str, exit: int = EXIT_DONE) -> Trace:
        t = self.run_cli("--json", *args)
        self.assertEqual(t.exit, exit, t.describe())
        self.assertIsInstance(t.doc, dict, "stdout is not one JSON object\n" + t.describe())
        for key in ("host", "target", "status", "hops"):
            self.assertIn(key, t.doc, t.describe())
        self.assertEqual([row["hop"] for row in t.hops], list(range(1, len(t.hops) + 1)),
                         "hop numbers must run 1, 2, 3 ...\n" + t.describe())
        return t

    def assertAnswered(self, row: dict, address: str, result: str, context: Trace):
        self.assertEqual((row["address"], row["result"]), (address, result), context.describe())
        self.assertIs(type(row["time_ms"]), int, "an answered row has a time\n" + context.describe())
        self.assertGreaterEqual(row["time_ms"], 0, context.describe())

    def assertUnanswered(self, row: dict, context: Trace):
        self.assertEqual((row["address"], row["result"], row["time_ms"]),
                         ("unknown", "failed", None), context.describe())

    def assertNoName(self, row: dict, context: Trace):
        self.assertIn(row.get("host"), ("", None), "-n must leave names out\n" + context.describe())

    def assertRouterRows(self, t: Trace, hops):
        """Rows for these hops are answered by their routers, from the side facing the source."""
        for hop in hops:
            self.assertAnswered(t.hops[hop - 1], self.path.routers[hop - 1].address, "next", t)


class FullPath(TraceCase):
    path_args = {"routers": 4, "names": True}

    def test_one_row_per_router_then_the_target(self):
        # Probes with TTL 6..16 reach the target as well; their rows are dropped.
        t = self.trace("-n", "-m", "16", self.path.target)
        self.assertEqual(len(t.hops), 5, t.describe())
        self.assertRouterRows(t, range(1, 5))
        self.assertAnswered(t.hops[4], self.path.target, "complete", t)
        self.assertEqual(t.doc["host"], self.path.target)
        self.assertEqual(t.doc["target"], self.path.target)
        self.assertEqual(t.doc["status"], "Complete.")
        for row in t.hops:
            self.assertNoName(row, t)

    def test_router_names_come_from_the_hosts_file(self):
        t = self.trace("-m", "16", self.path.target)
        self.assertEqual([row["host"] for row in t.hops],
                         ["r1.path.test", "r2.path.test", "r3.path.test", "r4.path.test",
                          "target.path.test"], t.describe())
        self.assertRouterRows(t, range(1, 5))
        self.assertAnswered(t.hops[4], self.path.target, "complete", t)

    def test_host_given_by_name_is_resolved_and_kept_as_typed(self):
        t = self.trace("-n", "-m", "16", "target.path.test")
        self.assertEqual(t.doc["host"], "target.path.test")
        self.assertEqual(t.doc["target"], self.path.target)
        self.assertEqual(len(t.hops), 5, t.describe())
        self.assertAnswered(t.hops[4], self.path.target, "complete", t)
        self.assertEqual(t.doc["status"], "Complete.")

    def test_trace_to_a_router_ends_at_that_router(self):
        r3 = self.path.routers[2]
        t = self.trace("-n", "-m", "16", r3.address)
        self.assertEqual(len(t.hops), 3, t.describe())
        self.assertRouterRows(t, range(1, 3))
        self.assertAnswered(t.hops[2], r3.address, "complete", t)
        self.assertEqual(t.doc["status"], "Complete.")

    def test_max_hops_short_of_the_target_stops_there(self):
        t = self.trace("-n", "-m", "2", self.path.target)
        self.assertEqual(len(t.hops), 2, t.describe())
        self.assertRouterRows(t, range(1, 3))

    def test_unresolvable_host(self):
        t = self.trace(UNRESOLVABLE, exit=EXIT_LOOKUP_FAILED)
        self.assertEqual(t.doc["host"], UNRESOLVABLE)
        self.assertEqual(t.doc["target"], "unknown")
        self.assertEqual(t.doc["status"], "Lookup of %s failed dramatically" % UNRESOLVABLE)
        self.assertEqual(len(t.hops), 1, t.describe())
        self.assertUnanswered(t.hops[0], t)

    def test_usage_errors(self):
        cases = {
            "no host": ["--json"],
            "unknown option": ["--json", "--no-such-option", self.path.target],
            "tries not a number": ["--json", "-t", "many", self.path.target],
            "max hops not a number": ["--json", "-m", "far", self.path.target],
            "wait not a number": ["--json", "-w", "soon", self.path.target],
            "option value missing": ["--json", self.path.target, "-w"],
        }
        for name, args in cases.items():
            with self.subTest(name):
                t = self.run_cli(*args)
                self.assertEqual(t.exit, EXIT_USAGE, t.describe())


class SilentRouterInTheMiddle(TraceCase):
    path_args = {"routers": 5, "silent": [3]}

    def test_silent_router_stays_unknown_between_answers(self):
        t = self.trace("-n", "-t", "2", "-w", "300", "-m", "16", self.path.target)
        self.assertEqual(len(t.hops), 6, t.describe())
        self.assertRouterRows(t, (1, 2, 4, 5))
        self.assertUnanswered(t.hops[2], t)
        self.assertAnswered(t.hops[5], self.path.target, "complete", t)
        self.assertEqual(t.doc["status"], "Complete.")


class TwoSilentRoutersInARow(TraceCase):
    path_args = {"routers": 5, "silent": [2, 3]}

    def test_both_stay_unknown_and_nothing_is_trimmed_between_answers(self):
        t = self.trace("-n", "-t", "2", "-w", "300", "-m", "16", self.path.target)
        self.assertEqual(len(t.hops), 6, t.describe())
        self.assertRouterRows(t, (1, 4, 5))
        self.assertUnanswered(t.hops[1], t)
        self.assertUnanswered(t.hops[2], t)
        self.assertAnswered(t.hops[5], self.path.target, "complete", t)


class TargetNeverAnswers(TraceCase):
    path_args = {"routers": 3, "target_silent": True}

    def test_rows_after_the_last_router_trimmed_to_one(self):
        t = self.trace("-n", "-t", "2", "-w", "300", "-m", "8", self.path.target)
        self.assertEqual(len(t.hops), 4, t.describe())
        self.assertRouterRows(t, range(1, 4))
        self.assertUnanswered(t.hops[3], t)
        self.assertEqual(t.doc["target"], self.path.target)


class LastRouterAndTargetSilent(TraceCase):
    path_args = {"routers": 3, "silent": [3], "target_silent": True}

    def test_one_unknown_row_follows_the_last_answer(self):
        t = self.trace("-n", "-t", "2", "-w", "300", "-m", "8", self.path.target)
        self.assertEqual(len(t.hops), 3, t.describe())
        self.assertRouterRows(t, range(1, 3))
        self.assertUnanswered(t.hops[2], t)


if __name__ == "__main__":
    unittest.main()
