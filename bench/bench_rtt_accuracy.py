"""The watch's round trips against a packet capture's own stamps.

hoplantern-cli --watch --json prints every answered probe's round trip in ms with
three decimals (one microsecond). tcpdump, on the source namespace's only link with
nanosecond stamps, sees each probe leave and its answer come back, stamped by the
kernel as they pass the link. Each probe is paired with its answer in the capture by
the answer's quote (tools/watch_capture.py).

For each path (no delay, and the delaying link at DELAY_MS per link each way), as root
(raw ICMP socket) and as user nobody (the probe sockets' error queues), per hop: mean
and max |ours - capture| in microseconds, and how many answered probes show 0.

    sudo python3 -m bench.bench_rtt_accuracy [--build build] [--count 20] [--interval 0.2]
               [--json results.json]

Run from the repository root as root; needs tcpdump and a build with hoplantern-cli
and hl_delay_link. Takes under a minute.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from bench.bench_support import save_figures, skip_reason  # noqa: E402
from tools.netpath import NetnsPath  # noqa: E402
from tools.watch_capture import watched_on_the_wire  # noqa: E402

ROUTERS = 4
DELAY_MS = 2.0
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def measure(path: NetnsPath, argv: list[str]) -> dict:
    """hop -> {"err_us": [|ours - wire|...], "zeros": n, "answered": n, "ours_ms": [...]}."""
    lines, wire = watched_on_the_wire(path, argv)
    rounds = [x for x in lines if x["type"] == "round"]
    hops: dict = {}
    unpaired = 0
    for line in rounds:
        for h in line["hops"]:
            if h["status"] != "answered":
                continue
            k = h["ttl"]
            entry = hops.setdefault(k, {"err_us": [], "zeros": 0, "answered": 0, "ours_ms": []})
            entry["answered"] += 1
            entry["zeros"] += h["rtt_ms"] == 0
            entry["ours_ms"].append(h["rtt_ms"])
            on_wire = wire.get((line["round"], k))
            if on_wire is None:
                unpaired += 1
                continue
            entry["err_us"].append(abs(h["rtt_ms"] * 1000 - on_wire))
    if unpaired:
        print("    (%d answers not found on the wire)" % unpaired)
    return hops


def report(label: str, hops: dict, expected_ms) -> dict:
    print(f"  {label}")
    print(f"    {'hop':>3} {'answered':>8} {'zeros':>5} {'mean|err| us':>12} {'max|err| us':>11} {'ours avg ms':>11}"
          f" {'expected ms':>11}")
    flat = []
    for k in sorted(hops):
        e = hops[k]
        flat += e["err_us"]
        mean = statistics.fmean(e["err_us"]) if e["err_us"] else float("nan")
        worst = max(e["err_us"]) if e["err_us"] else float("nan")
        print(f"    {k:>3} {e['answered']:>8} {e['zeros']:>5} {mean:>12.1f} {worst:>11.1f}"
              f" {statistics.fmean(e['ours_ms']):>11.3f} {expected_ms(k):>11.3f}")
    total = {
        "mean_err_us": statistics.fmean(flat) if flat else None,
        "max_err_us": max(flat) if flat else None,
        "zeros": sum(e["zeros"] for e in hops.values()),
        "answered": sum(e["answered"] for e in hops.values()),
    }
    print(f"    all {total['answered']:>8} {total['zeros']:>5} {total['mean_err_us'] or 0:>12.1f}"
          f" {total['max_err_us'] or 0:>11.1f}")
    return {"hops": {k: {kk: v for kk, v in e.items() if kk != "ours_ms"} for k, e in hops.items()}, **total}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build directory (default build/)")
    parser.add_argument("--count", type=int, default=20, help="rounds per run (default 20)")
    parser.add_argument("--interval", default="0.2", help="seconds between rounds (default 0.2)")
    parser.add_argument("--json", default=None, metavar="FILE", help="also write every figure to FILE")
    args = parser.parse_args()

    cli = os.path.join(args.build, "src", "cli", "hoplantern-cli")
    delay_link = os.path.join(args.build, "tools", "hl_delay_link")
    reason = skip_reason(args.build, [cli, delay_link], programs=("tcpdump",))
    if reason:
        print(f"skipped: {reason}")
        return 77

    results = {}
    with tempfile.TemporaryDirectory(prefix="hoplantern-rtt-") as folder:
        os.chmod(folder, 0o755)
        plain = os.path.join(folder, "hoplantern-cli")  # no capability: nobody reads the error queues
        shutil.copy(cli, plain)
        os.chmod(plain, 0o755)
        watch = ["--watch", "--count", str(args.count), "--interval", args.interval, "--json", "-n"]
        for name, options in (("no delay", {}), (f"{DELAY_MS:g} ms per link", {"delay_ms": DELAY_MS})):
            with NetnsPath(routers=ROUTERS, delay_link=delay_link, **options) as path:
                # Probes past the target are answered by the target.
                expected = lambda k: path.rtt_ms(min(k, ROUTERS + 1))
                for who, prefix in (("root", []), ("nobody", AS_NOBODY)):
                    hops = measure(path, prefix + [plain, *watch, path.target])
                    results[f"{name}, {who}"] = report(f"{name}, {who}", hops, expected)
    save_figures(args.json, results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
