"""A trace under a flood of unrelated ICMP shows the same rows as without it.

A router next to the tracer floods it with thousands of ICMP datagrams a second
that quote no probe of the trace; the tracer must read past all of them and
change only the rows its own answers belong to.
"""

import json
import os
import subprocess
import sys
import unittest

import netns_path
from netns_path import NetnsPath

CLI = os.environ.get("HOPLANTERN_CLI", "")
HANG_GUARD = 300  # against a hang only
FLOOD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icmp_flood.py")


def load_tests(loader, tests, pattern):
    netns_path.exit_unless_available(None if CLI else "HOPLANTERN_CLI is not set")
    return tests


class FloodCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.path = NetnsPath(routers=4, silent=[3]).up()
        cls.addClassCleanup(cls.path.down)

    def trace(self) -> list:
        cmd = self.path.exec_args(CLI, "--json", "-n", "-t", "3", "-w", "700", self.path.target)
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=HANG_GUARD, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        return [(h["hop"], h["address"], h["result"], h["time_ms"] is not None) for h in json.loads(done.stdout)["hops"]]

    def test_flood_changes_no_row(self):
        quiet = self.trace()
        flood = subprocess.Popen(["ip", "netns", "exec", self.path.routers[0].ns, sys.executable, FLOOD,
                                  "--to", self.path.source_address, "--rate", "5000", "--seconds", "4"],
                                 stdout=subprocess.PIPE, text=True)
        try:
            flooded = self.trace()
        finally:
            sent = int(flood.communicate(timeout=HANG_GUARD)[0] or 0)
        self.assertGreater(sent, 1000, "the flood did not run")
        self.assertEqual(flooded, quiet)
        self.assertEqual([r[2] for r in quiet], ["next", "next", "failed", "next", "complete"])


if __name__ == "__main__":
    unittest.main()
