"""hoplantern-cli over IPv6 and dual-stack paths, and how a trace paces and ends
(tools/netpath, run through ctest as root; skipped otherwise).

Times here are upper bounds far above what a correct trace needs and far below what a
broken one takes (a silent hop costing every try's full wait, a countdown that never
ends); speed itself is measured in bench/, side by side.
"""

import json
import subprocess
import time
import unittest

# load_tests: skipped, as test_trace_paths is, without a built tracer, root or `ip netns`.
from tests.integration.test_trace_paths import AS_NOBODY, CLI, load_tests, path_for, rows_of, trace


def timed(path, *args, prefix=(), binary=CLI):
    start = time.monotonic()
    done = trace(path, "--json", *args, prefix=prefix, binary=binary)
    return done, time.monotonic() - start


def results(done):
    return [h["result"] for h in json.loads(done.stdout)["hops"]]


class Ipv6Paths(unittest.TestCase):
    maxDiff = None

    def test_rows_over_ipv6(self):
        # A silent router over IPv6 is Privileges' case; brackets around the address are
        # the option parser's (tst_cli, tst_resolvers).
        # name, path, arguments, addresses (r: router k, T: target, *: none), results
        for name, path_args, args, rows, result in (
            ("every hop answers, names from the hosts file", {"routers": 3, "family": "6", "names": True},
             ["{target}"], "r1 r2 r3 T", "next next next complete"),
            ("a filtered target", {"routers": 2, "family": "6", "target_silent": True},
             ["-n", "-t", "2", "-m", "6", "{target}"], "r1 r2 *", "next next failed"),
        ):
            with self.subTest(name):
                path = path_for(path_args)
                args = [a.replace("{target}", path.target) for a in args]
                done = trace(path, "--json", *args)
                self.assertEqual(done.returncode, 0, done.stderr)
                doc = json.loads(done.stdout)
                self.assertEqual((doc["family"], doc["target"]), (6, path.target))
                expect = [path.target if t == "T" else None if t == "*" else path.routers[int(t[1:]) - 1].address6
                          for t in rows.split()]
                self.assertEqual([h["address"] for h in doc["hops"]], expect)
                self.assertEqual(results(done), result.split())
                if "-n" not in args:
                    self.assertEqual(doc["hops"][0]["host"], "r1.path.test")

    def test_dual_stack_name_takes_the_system_choice_unless_forced(self):
        path = path_for({"routers": 2, "family": "dual", "names": True})
        # What the system itself prefers for this name, asked inside the same namespace.
        first = subprocess.run(path.exec_args("python3", "-c", "import socket; print(socket.getaddrinfo("
                                              "'target.path.test', None, type=socket.SOCK_DGRAM)[0][4][0])"),
                               capture_output=True, text=True, check=True).stdout.strip()
        for option, target in (((), first), (("-4",), path.target), (("-6",), path.target6)):
            with self.subTest(option=option):
                done = trace(path, "--json", "-n", *option, "target.path.test")
                self.assertEqual(done.returncode, 0, done.stderr)
                doc = json.loads(done.stdout)
                self.assertEqual(doc["target"], target)
                self.assertEqual(doc["family"], 6 if ":" in target else 4)
                self.assertEqual(results(done), ["next", "next", "complete"])


class Pacing(unittest.TestCase):
    """A trace is over once the path is known; silent hops cost a few round trips,
    not every try's full wait; every answer is timed from the probe it answers."""

    def test_ends_without_waiting_for_what_cannot_come(self):
        for name, path_args, args, result, within in (
            ("target at the kernel's rate limit, traced twice in a row",
             {"routers": 4, "delay_ms": 5, "target_icmp_ratelimit": 1000}, ["-n"],
             "next next next next complete", 1.5),
            ("a silent router", {"routers": 4, "delay_ms": 5, "silent": [2]}, ["-n"],
             "next failed next next complete", 3.0),
            ("a filtered target", {"routers": 3, "delay_ms": 5, "target_silent": True}, ["-n"],
             "next next next failed", 4.5),
        ):
            with self.subTest(name):
                path = path_for(path_args)
                for prefix in ((), AS_NOBODY, ()):
                    done, seconds = timed(path, *args, path.target, prefix=prefix)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(results(done), result.split(), prefix)
                    # Three tries of the full wait would take 9 s.
                    self.assertLess(seconds, within, "%s %s" % (name, prefix))
                fixed, _ = timed(path, "--fixed-wait", *args, path.target)
                self.assertEqual(rows_of(fixed), rows_of(done), "the same table as with the full wait")

    def test_one_round_as_nobody_answers_every_row(self):
        # Answers arriving while the round still sends must not make it lose a probe.
        path = path_for({"routers": 6})
        for prefix in ((), AS_NOBODY):
            done = trace(path, "--json", "-n", "-t", "1", path.target, prefix=prefix)
            self.assertEqual(results(done), ["next"] * 6 + ["complete"], prefix)

    def test_router_answering_once_a_second_is_not_silent(self):
        # Traced twice in a row, router 2 has spent its answer on the first trace: the
        # second must still probe it again once it may answer.
        path = path_for({"routers": 3, "delay_ms": 5, "icmp_limit": "1/second burst 1 packets",
                         "icmp_limit_routers": [2]})
        for run in range(2):
            done = trace(path, "--json", "-n", path.target)
            self.assertEqual(results(done), ["next", "next", "next", "complete"], "trace %d" % (run + 1))

    def test_late_answer_is_timed_from_the_probe_it_answers(self):
        # Router 2's answers leave 300 ms late: its row is probed again meanwhile, and
        # the answer to the first probe must not be timed from a later one.
        path = path_for({"routers": 3, "delay_ms": 5, "late_icmp": {2: 300}})
        done = trace(path, "--json", "-n", path.target)
        hops = json.loads(done.stdout)["hops"]
        self.assertEqual([h["result"] for h in hops], ["next", "next", "next", "complete"])
        self.assertAlmostEqual(hops[1]["time_ms"], 300 + path.rtt_ms(2), delta=25)
        self.assertAlmostEqual(hops[2]["time_ms"], path.rtt_ms(3), delta=5)

    def test_router_that_cannot_reach_the_target_ends_the_path(self):
        # Router 3 has no way on and answers every hop count past it, five at once and
        # then one a second (the kernel's budget for these answers): the table ends at
        # hop 3, in about a round trip (the second trace: a second), not after the wait.
        path = path_for({"routers": 4})
        r3 = path.routers[2]
        subprocess.run(["ip", "-n", r3.ns, "route", "add", "unreachable", path.target], check=True)
        for prefix in ((), AS_NOBODY):
            done, seconds = timed(path, "-n", "-w", "5000", path.target, prefix=prefix)
            self.assertEqual([(h["address"], h["result"]) for h in json.loads(done.stdout)["hops"]],
                             [(r.address, "next") for r in path.routers[:2]] + [(r3.address, "host unreachable")])
            self.assertLess(seconds, 2.0, prefix)

    def test_last_router_answers_for_a_host_that_is_down(self):
        # No host has the address: the last router answers only once its neighbour
        # lookup has failed, about 3 s after the probe, within the wait asked for.
        path = path_for({"routers": 3})
        down = path.target.rsplit(".", 1)[0] + ".99"
        done, _ = timed(path, "-n", "-w", "5000", down)
        self.assertEqual([(h["address"], h["result"]) for h in json.loads(done.stdout)["hops"]],
                         [(r.address, "next") for r in path.routers] + [(path.routers[2].address, "host unreachable")])


if __name__ == "__main__":
    unittest.main()
