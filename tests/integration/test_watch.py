"""hoplantern-cli --watch on real kernel routers (tools/netpath): loss on the way against
routers declining to answer, and what an interrupt prints.

Short intervals keep each run to seconds; netpath paths answer every probe (no kernel
ICMP rate limit) unless a test adds a limit of its own.
"""

import ipaddress
import json
import math
import os
import shlex
import shutil
import signal
import statistics
import subprocess
import tempfile
import time
from datetime import datetime
import unittest

from tests.integration.test_trace_paths import AS_NOBODY, CLI, HANG_GUARD, copies_for_nobody, path_for
from tools.netpath import exit_unless_available
from tools.watch_capture import watched_on_the_wire

ROUNDS = 200
FAST = ["--interval", "0.05", "-w", "300", "-n"]


def load_tests(loader, tests, pattern):
    ok = CLI and os.access(CLI, os.X_OK)
    exit_unless_available(None if ok else "HOPLANTERN_CLI is not a built hoplantern-cli: run this through ctest")
    return tests


def watch(path, *args, prefix=(), binary=CLI) -> tuple[int, list]:
    done = subprocess.run(path.exec_args(*prefix, binary, "--watch", "--json", *args), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=HANG_GUARD)
    return done.returncode, [json.loads(line) for line in done.stdout.splitlines()]


def interrupted(path, args: list, after_s: float, prefix=(), binary=CLI) -> tuple[int, str]:
    """The tracer's exit status and output when SIGINT comes `after_s` seconds in."""
    proc = subprocess.Popen(path.exec_args(*prefix, binary, *args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    time.sleep(after_s)
    proc.send_signal(signal.SIGINT)
    out, _ = proc.communicate(timeout=HANG_GUARD)
    return proc.returncode, out


def binomial_bound_pct(p: float, n: int, sigmas: float = 4.0) -> tuple[float, float]:
    sd = math.sqrt(n * p * (1 - p))
    return max(0.0, (n * p - sigmas * sd) / n * 100), (n * p + sigmas * sd) / n * 100


class Loss(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        (cls.plain,) = copies_for_nobody(cls)

    def test_forward_loss_behind_a_dropping_router_only(self):
        # Router 2 drops 5 % of the probes it forwards: hops 3 on lose them, 1 and 2 do not.
        path = path_for({"routers": 4, "forward_drop": {2: 5}})
        low, high = binomial_bound_pct(0.05, ROUNDS)
        for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
            with self.subTest(who):
                code, lines = watch(path, "--count", str(ROUNDS), *FAST, path.target, prefix=prefix,
                                    binary=self.plain)
                self.assertEqual(code, 0)
                summary = lines[-1]
                self.assertEqual((summary["type"], summary["rounds"]), ("summary", ROUNDS))
                hops = summary["hops"]
                self.assertEqual([h["ttl"] for h in hops], [1, 2, 3, 4, 5])
                self.assertEqual([h["forward_loss_pct"] for h in hops[:2]], [0, 0])
                for h in hops[2:]:
                    self.assertTrue(low <= h["forward_loss_pct"] <= high, h)
                # Every round's line came, in order, before the summary.
                self.assertEqual([x["round"] for x in lines[:-1] if x["type"] == "round"], list(range(ROUNDS)))

    def test_router_declining_answers_is_no_forward_loss(self):
        path = path_for({"routers": 4, "icmp_limit": "20/minute burst 1 packets", "icmp_limit_routers": [2]})
        for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
            with self.subTest(who):
                code, lines = watch(path, "--count", "100", *FAST, path.target, prefix=prefix, binary=self.plain)
                self.assertEqual(code, 0)
                hops = lines[-1]["hops"]
                self.assertGreater(hops[1]["loss_pct"], 80)
                self.assertEqual(hops[1]["forward_loss_pct"], 0)
                self.assertEqual(hops[-1]["loss_pct"], 0)  # the target


class KernelRateLimit(unittest.TestCase):
    def test_target_loses_nothing_at_the_default_interval(self):
        # Linux answers a source a burst of 6, then one a second: at one round a second the
        # target's budget is spent exactly, so a single extra probe that reaches it (one sent
        # past it, every tenth round) soon shows as the target's loss. Root and nobody run
        # at once, on paths of their own, each target with its own budget.
        (plain,) = copies_for_nobody(type(self))
        runs = []
        for routers, prefix in ((3, ()), (4, AS_NOBODY)):
            path = path_for({"routers": routers, "icmp_ratelimit": 1000})
            runs.append(subprocess.Popen(path.exec_args(*prefix, plain, "--watch", "--json", "--count", "60", "-n",
                                                        path.target),
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True))
        for who, proc in zip(("root", "nobody"), runs):
            with self.subTest(who):
                out, _ = proc.communicate(timeout=HANG_GUARD)
                self.assertEqual(proc.returncode, 0)
                hops = json.loads(out.splitlines()[-1])["hops"]
                self.assertEqual([(h["sent"], h["loss_pct"]) for h in hops], [(60, 0)] * len(hops), hops)


class Sockets(unittest.TestCase):
    def test_watch_closes_each_rounds_socket_after_its_deadlines(self):
        # Each round's socket is kept until the round's probes are decided, then closed:
        # a few rounds in flight here, not the 64 sockets the ICMP socket could hold.
        # Without privilege the answers come through it; as root the raw socket reads
        # them, and it is kept only so that its port goes to no other program meanwhile.
        (plain,) = copies_for_nobody(type(self))
        path = path_for({"routers": 3})
        for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
            with self.subTest(who):
                proc = subprocess.Popen(path.exec_args(*prefix, plain, "--watch", "--count", "150", "--interval",
                                                       "0.02", "-w", "100", "-n", "--report", path.target),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(2)
                sockets = [os.readlink("/proc/%d/fd/%s" % (proc.pid, fd)) for fd in os.listdir("/proc/%d/fd" % proc.pid)]
                proc.wait(timeout=HANG_GUARD)
                self.assertLess(sum(s.startswith("socket:") for s in sockets), 16, sockets)


    def test_unprivileged_round_of_255_keeps_every_answer_beside_the_stamps(self):
        # Without privilege a round's answers and its probes' transmit stamps share the
        # socket's error queue, and on a fast path all of them are queued before the round
        # has finished sending: none may crowd out an answer.
        (plain,) = copies_for_nobody(type(self))
        path = path_for({"routers": 3})
        code, lines = watch(path, "--count", "1", "-m", "255", *FAST, path.target, prefix=AS_NOBODY, binary=plain)
        self.assertEqual(code, 0)
        self.assertEqual([h["status"] for h in lines[0]["hops"]], ["answered"] * 255)


class RouteChange(unittest.TestCase):
    def test_route_replaced_under_fixed_flow_is_one_event(self):
        # Router 1 splits the path in two branches (hops 2 and 3); the fixed flow keeps
        # to one. Some rounds in, router 1's route to the target is replaced by the other
        # branch alone: one route_change naming both hops' old and new routers.
        (plain,) = copies_for_nobody(type(self))
        path = path_for({"routers": 4, "ecmp": 1})
        splitter = next(r for r in path.routers if r.hop == 1).ns
        subnet = str(ipaddress.ip_network(path.target + "/24", strict=False))
        both = " ".join("nexthop via " + r.address for r in path.routers if r.hop == 2)
        restore = ["ip", "-n", splitter, "route", "replace", subnet, *both.split()]
        self.addCleanup(subprocess.run, restore, check=True)
        for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
            with self.subTest(who):
                subprocess.run(restore, check=True)
                with subprocess.Popen(path.exec_args(*prefix, plain, "--watch", "--json", "--fixed-flow", "--count",
                                                     "30", "--interval", "0.1", "-w", "300", "-n", path.target),
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                      text=True) as proc:
                    lines = []
                    for line in proc.stdout:
                        lines.append(json.loads(line))
                        if lines[-1]["type"] == "round" and lines[-1]["round"] == 5:
                            break
                    taken = lines[-1]["hops"][1]["ip"]
                    other = next(r for r in path.routers if r.hop == 2 and r.address != taken)
                    subprocess.run(["ip", "-n", splitter, "route", "replace", subnet, "via", other.address], check=True)
                    lines += [json.loads(line) for line in proc.stdout]
                    self.assertEqual(proc.wait(timeout=HANG_GUARD), 0)
                old = {r.hop: r.address for r in path.routers if r.hop in (2, 3) and r.branch != other.branch}
                new = {r.hop: r.address for r in path.routers if r.hop in (2, 3) and r.branch == other.branch}
                changes = [x for x in lines if x["type"] == "route_change"]
                self.assertEqual(len(changes), 1, changes)
                self.assertEqual([(h["ttl"], h["old"], h["new"]) for h in changes[0]["hops"]],
                                 [(2, old[2], new[2]), (3, old[3], new[3])], changes)
                hops = lines[-1]["hops"]
                for ttl in (2, 3):
                    self.assertEqual(sorted(h["ip"] for h in hops[ttl - 1]["hosts"]), sorted((old[ttl], new[ttl])))
                self.assertEqual([h["loss_pct"] for h in hops], [0] * 5)


class SeveralTargets(unittest.TestCase):
    def test_two_targets_staggered_each_with_its_summary(self):
        # The path's target and its third router, from a targets file: every round and
        # summary names its target, the second target's rounds leave half an interval
        # after the first's, and each summary holds its own path.
        (plain,) = copies_for_nobody(type(self))
        path = path_for({"routers": 4})
        addresses = [r.address for r in path.routers] + [path.target]
        near = addresses[2]
        with tempfile.NamedTemporaryFile("w", suffix=".targets", delete=False) as f:
            f.write("# two paths\n%s name=far\n\n  %s   # no label\n" % (path.target, near))
        os.chmod(f.name, 0o644)
        self.addCleanup(os.unlink, f.name)
        for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
            with self.subTest(who):
                code, lines = watch(path, "--count", "20", "--interval", "0.2", "-w", "300", "-n", "--targets",
                                    f.name, prefix=prefix, binary=plain)
                self.assertEqual(code, 0)
                summaries = [x for x in lines if x["type"] == "summary"]
                self.assertEqual([(s["target"], s.get("name"), s["rounds"]) for s in summaries],
                                 [(path.target, "far", 20), (near, None, 20)])
                self.assertEqual([[h["hosts"][0]["ip"] for h in s["hops"]] for s in summaries],
                                 [addresses, addresses[:3]])
                for s in summaries:
                    self.assertEqual({(h["sent"], h["recv"]) for h in s["hops"]}, {(20, 20)}, s)
                when = {(x["target"], x.get("name"), x["round"]): datetime.fromisoformat(x["time"])
                        for x in lines if x["type"] == "round"}
                self.assertEqual(len(when), 40)
                offsets = sorted((when[(near, None, r)] - when[(path.target, "far", r)]).total_seconds()
                                 for r in range(20))
                self.assertAlmostEqual(offsets[10], 0.1, delta=0.02, msg=offsets)

    def test_interrupt_prints_every_targets_summary(self):
        path = path_for({"routers": 3})
        near = path.routers[0].address
        code, out = interrupted(path, ["--watch", "--json", "--interval", "0.1", "-w", "300", "-n", path.target,
                                       near], 1.05)
        self.assertEqual(code, 0, out)
        summaries = [x for x in map(json.loads, out.splitlines()) if x["type"] == "summary"]
        self.assertEqual([s["target"] for s in summaries], [path.target, near])
        for s in summaries:
            self.assertGreaterEqual(s["rounds"], 8)
            self.assertEqual({h["loss_pct"] for h in s["hops"]}, {0}, s)


@unittest.skipUnless(shutil.which("tcpdump"), "needs tcpdump")
class RoundTrips(unittest.TestCase):
    def test_round_trips_match_the_wire(self):
        # Each answered probe's round trip against a capture's kernel stamps on the source's
        # link. Without delay the whole round trip can pass while sendto() runs, so a time
        # read after it shows 0; and a round's first probe leaves some 30 us after the clock
        # read before its send, which the kernel's transmit stamp leaves out. Behind the
        # delaying link no round trip is shorter than the emulated one.
        (plain,) = copies_for_nobody(type(self))
        for delay_ms in (0, 1):
            path = path_for({"routers": 3, "delay_ms": delay_ms} if delay_ms else {"routers": 3})
            for who, prefix in (("root", ()), ("nobody", AS_NOBODY)):
                with self.subTest(delay_ms=delay_ms, who=who):
                    lines, wire = watched_on_the_wire(
                        path, [*prefix, plain, "--watch", "--json", "--count", "10", *FAST, path.target])
                    errors = {}
                    for line in lines[:-1]:
                        for h in (h for h in line["hops"] if h["status"] == "answered"):
                            least = path.rtt_ms(min(h["ttl"], 4)) if delay_ms else 0  # past the target: its own
                            self.assertGreater(h["rtt_ms"], least, line)
                            on_wire = wire[(line["round"], h["ttl"])]
                            errors.setdefault(h["ttl"], []).append(abs(h["rtt_ms"] * 1000 - on_wire))
                    # Every hop of the path answered every round. The median, since a busy machine
                    # can hold up a probe or two between the capture's stamp and ours.
                    for ttl in (1, 2, 3, 4):
                        self.assertEqual(len(errors[ttl]), 10)
                        self.assertLess(statistics.median(errors[ttl]), 15, (ttl, errors[ttl]))


class Interrupt(unittest.TestCase):
    def test_watch_prints_every_round_sent_and_exits_0(self):
        # 160 ms to the target and back: rounds leave every 100 ms, so the interrupt finds
        # some in flight.
        path = path_for({"routers": 3, "delay_ms": 20})
        (plain,) = copies_for_nobody(type(self))
        code, out = interrupted(path, ["--watch", "--json", "--interval", "0.1", "-w", "300", "-n", path.target], 1.05,
                                prefix=AS_NOBODY, binary=plain)
        self.assertEqual(code, 0, out)
        summary = json.loads(out.splitlines()[-1])
        self.assertEqual([h["sent"] for h in summary["hops"]], [summary["rounds"]] * len(summary["hops"]), "nobody")
        html = os.path.join(tempfile.mkdtemp(), "watch.html")
        self.addCleanup(shutil.rmtree, os.path.dirname(html))
        code, out = interrupted(path, ["--watch", "--json", "--interval", "0.1", "-w", "300", "-n", "--html", html,
                                       path.target], 1.05)
        self.assertEqual(code, 0, out)
        lines = [json.loads(line) for line in out.splitlines()]
        summary = lines[-1]
        self.assertEqual(summary["type"], "summary")
        self.assertGreaterEqual(summary["rounds"], 8)
        for h in summary["hops"]:
            self.assertEqual(h["sent"], summary["rounds"])
            self.assertEqual(h["loss_pct"], 0)  # probes still in flight are no loss
        finished = [x["round"] for x in lines if x["type"] == "round"]
        self.assertEqual(finished, list(range(len(finished))))
        self.assertLess(len(finished), summary["rounds"])
        with open(html, encoding="utf-8") as report:  # written after the signal too
            page = report.read()
        self.assertEqual(page.count("<svg"), len(summary["hops"]))
        self.assertIn("<dt>Rounds</dt><dd>%d, one every 0.1 s</dd>" % summary["rounds"], page)

    def test_html_report_not_written_is_said_and_the_table_kept(self):
        path = path_for({"routers": 2})
        folder = tempfile.mkdtemp()
        args = ["--watch", "--report", "--interval", "0.1", "-w", "300", "-n", "--html"]
        # A folder that is not there: said before any probe.
        done = subprocess.run(path.exec_args(CLI, *args, "/nonexistent/watch.html", path.target),
                              capture_output=True, text=True, timeout=HANG_GUARD)
        self.assertEqual((done.returncode, done.stdout), (5, ""), done.stderr)
        self.assertIn("cannot write the HTML report: /nonexistent/watch.html: ", done.stderr)
        # A folder gone while watching: said at the end, the table printed all the same.
        proc = subprocess.Popen(path.exec_args(CLI, *args, os.path.join(folder, "watch.html"), path.target),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(0.5)
        os.rmdir(folder)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=HANG_GUARD)
        self.assertEqual(proc.returncode, 5, err)
        self.assertIn("cannot write the HTML report: %s/watch.html: " % folder, err)
        self.assertEqual([line.split()[1] for line in out.splitlines()[1:]],
                         [r.address for r in path.routers] + [path.target])

    def test_trace_prints_rows_so_far_and_exits_130(self):
        path = path_for({"routers": 3, "target_silent": True})
        code, out = interrupted(path, ["--json", "-w", "3000", "-n", path.target], 0.5)
        self.assertEqual(code, 130, out)
        doc = json.loads(out)
        self.assertEqual((doc["status"], doc["finished"]), ("Interrupted.", False))
        self.assertEqual([h["address"] for h in doc["hops"][:3]], [r.address for r in path.routers])


@unittest.skipUnless(shutil.which("tmux"), "needs tmux")
class LiveView(unittest.TestCase):
    def show(self, path, *hosts: str) -> None:
        """Starts a short fast watch of `hosts` in a detached tmux terminal of 100 x 30."""
        self.session = "hoplantern-watch-%d-%d" % (os.getpid(), len(hosts))
        command = path.exec_args(CLI, "--watch", "--count", "25", "--interval", "0.1", "-w", "300", "-n", *hosts)
        subprocess.run(["tmux", "new-session", "-d", "-s", self.session, "-x", "100", "-y", "30",
                        " ".join(map(shlex.quote, command)) + "; sleep 30"], check=True)
        self.addCleanup(subprocess.run, ["tmux", "kill-session", "-t", self.session])

    def screen(self) -> list:
        shown = subprocess.run(["tmux", "capture-pane", "-p", "-t", self.session], capture_output=True, text=True)
        return [line.split() for line in shown.stdout.splitlines() if line.strip()]

    def test_table_redrawn_in_place_on_a_terminal(self):
        path = path_for({"routers": 3})
        self.show(path, path.target)
        addresses = [r.address for r in path.routers] + [path.target]
        for pause, sent in ((1.2, range(5, 20)), (2.3, [25])):  # under way, then over
            time.sleep(pause)
            lines = self.screen()
            self.assertEqual([line[:2] for line in lines].count(["Hop", "Address"]), 1, lines)  # one table
            hops = [line for line in lines if line[0].isdigit()]
            self.assertEqual([h[1] for h in hops], addresses, lines)
            self.assertIn(int(hops[0][4]), sent, lines)

    def test_one_table_per_target_on_a_terminal(self):
        path = path_for({"routers": 3})
        near = path.routers[0].address
        self.show(path, path.target, near)
        addresses = [r.address for r in path.routers] + [path.target]
        for pause, sent in ((1.2, range(5, 20)), (2.3, [25])):  # under way, then over
            time.sleep(pause)
            lines = self.screen()
            # Each table under its target's line, the far target's first.
            self.assertEqual([line for line in lines if len(line) == 1], [[path.target], [near]], lines)
            self.assertEqual([line[:2] for line in lines].count(["Hop", "Address"]), 2, lines)
            hops = [line for line in lines if line[0].isdigit()]
            self.assertEqual([h[1] for h in hops], addresses + [near], lines)
            self.assertEqual(len({int(h[4]) for h in hops[len(addresses):]} & set(sent)), 1, lines)
            self.assertIn(int(hops[0][4]), sent, lines)
