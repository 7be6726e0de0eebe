"""The tracer with and without the raw-socket privilege, on one real router path.

Root reads the answers from a raw ICMP socket; an ordinary user without any
privilege reads them from the probe sockets' own error queues; an ordinary user
given CAP_NET_RAW as a file capability opens the raw socket and then gives the
capability up. All three must show the same rows.
"""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import netns_path
from netns_path import NetnsPath

CLI = os.environ.get("HOPLANTERN_CLI", "")
HANG_GUARD = 300  # against a hung tracer only; each trace here takes a second or two
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def load_tests(loader, tests, pattern):
    reason = None
    if not CLI:
        reason = "HOPLANTERN_CLI is not set: build hoplantern-cli and run this through ctest"
    elif not shutil.which("setpriv") or not shutil.which("setcap"):
        reason = "setpriv and setcap are needed (util-linux, libcap2-bin)"
    netns_path.exit_unless_available(reason)
    return tests


def rows(doc: dict) -> list:
    # Times differ from run to run; everything else must not.
    return [{k: v for k, v in hop.items() if k != "time_ms"} | {"answered": hop["time_ms"] is not None}
            for hop in doc["hops"]]


class PrivilegeCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        # Binaries where the unprivileged user can reach them, whatever the checkout's
        # folder permissions: one plain, one with the file capability.
        cls.bindir = tempfile.mkdtemp(prefix="hoplantern-priv-")
        os.chmod(cls.bindir, 0o755)
        cls.plain = os.path.join(cls.bindir, "hoplantern-cli")
        cls.capable = os.path.join(cls.bindir, "hoplantern-cli-cap")
        for copy in (cls.plain, cls.capable):
            shutil.copy(CLI, copy)
            os.chmod(copy, 0o755)
        subprocess.run(["setcap", "cap_net_raw+ep", cls.capable], check=True)
        cls.addClassCleanup(shutil.rmtree, cls.bindir)
        cls.path = NetnsPath(routers=4, silent=[2], names=True).up()
        cls.addClassCleanup(cls.path.down)

    def trace(self, *prefix: str, binary: str) -> dict:
        cmd = self.path.exec_args(*prefix, binary, "--json", "-t", "2", "-w", "400", self.path.target)
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=HANG_GUARD, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    def test_same_rows_with_and_without_privilege(self):
        as_root = self.trace(binary=self.plain)
        unprivileged = self.trace(*AS_NOBODY, binary=self.plain)
        with_capability = self.trace(*AS_NOBODY, binary=self.capable)
        expected = rows(as_root)
        self.assertEqual([h["result"] for h in expected], ["next", "failed", "next", "next", "complete"])
        self.assertEqual(rows(unprivileged), expected)
        self.assertEqual(rows(with_capability), expected)
        self.assertEqual(expected[0]["host"], "r1.path.test")

    def test_capability_given_up_after_start(self):
        # A trace to a silent router's hop count keeps the process alive for its wait.
        cmd = self.path.exec_args(*AS_NOBODY, self.capable, "-n", "-t", "1", "-w", "3000", "-m", "2",
                                  self.path.routers[1].address)
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            caps = self.capabilities_once_tracing(proc.pid)
        finally:
            out, err = proc.communicate(timeout=HANG_GUARD)
        self.assertEqual(proc.returncode, 0, err)
        self.assertIn("198.18.1.2", out, "the capability was used: the raw socket received the answer")
        self.assertEqual(caps.get("CapEff"), 0, caps)
        self.assertEqual(caps.get("CapPrm"), 0, caps)

    @staticmethod
    def capabilities_once_tracing(pid: int) -> dict:
        # The tracer's own process is the last of the chain ip netns exec / setpriv
        # exec into; it has the capability until its socket is open, then none.
        caps = {}
        for _ in range(HANG_GUARD * 100):
            try:
                with open(f"/proc/{pid}/status") as f:
                    status = dict(line.split(":\t", 1) for line in f.read().splitlines() if ":\t" in line)
            except FileNotFoundError:
                break
            caps = {k: int(v, 16) for k, v in status.items() if k.startswith("Cap")}
            if status.get("Name", "").startswith("hoplantern") and caps.get("CapEff") == 0:
                break
            time.sleep(0.01)
        return caps


if __name__ == "__main__":
    unittest.main()
