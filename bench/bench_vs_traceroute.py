#!/usr/bin/env python3
"""Wall time of hoplantern-cli -n against Debian's traceroute -n on the same path.

Both run inside the source namespace of one real router path (tools/netpath), one after the other, several times each; the medians and their ratio
are printed side by side. Two scenarios: every hop answers, and one router is silent.

    sudo python3 -m bench.bench_vs_traceroute [--cli build/src/cli/hoplantern-cli] [--runs 5]
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

from tools.netpath import NetnsPath, unavailable_reason


def timed(cmd: list[str]) -> float:
    start = time.monotonic()
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.monotonic() - start
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(cmd)} failed ({done.returncode}): {done.stderr.strip()}")
    return elapsed


def scenario(name: str, cli: str, runs: int, **path_options) -> tuple[str, float, float]:
    with NetnsPath(**path_options) as path:
        ours = [timed(path.exec_args(cli, "-n", path.target)) for _ in range(runs)]
        theirs = [timed(path.exec_args("traceroute", "-n", path.target)) for _ in range(runs)]
    return name, statistics.median(ours), statistics.median(theirs)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(HERE, "..", "build", "src", "cli", "hoplantern-cli"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--routers", type=int, default=8)
    args = parser.parse_args()

    reason = unavailable_reason(need_nft=True)
    if reason:
        print(f"skipped: {reason}")
        return 77
    if not shutil.which("traceroute"):
        print("skipped: traceroute is not installed (apt-get install traceroute)")
        return 77

    middle = max(1, args.routers // 2)
    rows = [
        scenario("all hops answer", args.cli, args.runs, routers=args.routers),
        scenario(f"router {middle} silent", args.cli, args.runs, routers=args.routers, silent=[middle]),
    ]
    print(f"path: {args.routers} routers and a target; median of {args.runs} runs each; defaults of both tools")
    print(f"{'scenario':<24}{'hoplantern-cli -n':>20}{'traceroute -n':>16}{'ratio':>9}")
    for name, ours, theirs in rows:
        print(f"{name:<24}{ours * 1000:>17.0f} ms{theirs * 1000:>13.0f} ms{theirs / ours:>8.1f}x")
    print("ratio = traceroute time / hoplantern time (above 1: hoplantern is faster)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
