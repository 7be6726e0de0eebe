"""hoplantern-cli --watch beside mtr --report on the same emulated paths.

Every figure comes from one run of this script. Both tools watch the same kind of
path (tools/netpath: kernel routers in namespaces, 2 ms per link each way, the
kernels' own ICMP rate limit off, so only nftables limits anything) with the same
count and interval, one after the other, each on a freshly built path, and both
send UDP probes (mtr -u), since the dropping router drops only UDP:

  1. drop   router 3 of 6 drops 5 % of the UDP it forwards: every hop behind it
            loses 5 %, none in front.
  2. limit  router 3 of 6 limits its ICMP output to 20 a minute (nftables): it
            answers few probes, yet nothing is lost on the way (forward loss 0).

For each tool: wall time, CPU time (user + system, from wait4, which counts mtr's
mtr-packet helper too) per round, peak resident set, and its loss per hop (ours:
loss_pct and forward_loss_pct of the summary; mtr: Loss%) against the true forward
loss with a binomial bound: SIGMAS standard deviations of a share of n probes,
sqrt(p(1-p)/n), plus one probe (the last round may still be in flight).

Then a simulated 24 h at one round a second on a 30-hop path (fake clock):
build/bench/bench_path_watch and build/bench/bench_watch_history, their CPU per
round and RSS growth as printed.

    sudo python3 -m bench.bench_watch_vs_mtr [--quick] [--build build] [--count 300]
               [--interval 0.1] [--hours 24] [--json results.json]

Run from the repository root as root. Needs mtr and a build with hoplantern-cli,
hl_delay_link, bench_path_watch and bench_watch_history. --quick (60 rounds, 1 h
simulated) takes under a minute; the default about three minutes.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

import bench.bench_emulated_paths as emulated
from bench.bench_emulated_paths import run_in
from bench.bench_support import save_figures, skip_reason
from tools.netpath import NetnsPath

ROUTERS = 6           # a 7-hop path: 6 routers and the target
DELAY_MS = 2.0
ROUTER = 3            # the router that drops or limits
DROP_PCT = 5
ICMP_LIMIT = "20/minute burst 1 packets"
SIGMAS = 4
SIM_HOPS = 30

PATHS = [
    ("drop", f"router {ROUTER} drops {DROP_PCT} % of the UDP it forwards", {"forward_drop": {ROUTER: DROP_PCT}}),
    ("limit", f"router {ROUTER}'s ICMP limited to {ICMP_LIMIT}",
     {"icmp_limit": ICMP_LIMIT, "icmp_limit_routers": [ROUTER]}),
]


def true_forward_loss(path: str, hop: int) -> float:
    """The share (%) of probes lost on the way to `hop`: what the path really drops."""
    return float(DROP_PCT) if path == "drop" and hop > ROUTER else 0.0


def bound(p_pct: float, n: int) -> float:
    """Half-width (%) of the band a measured loss share stays in around p_pct."""
    p = p_pct / 100
    return (SIGMAS * math.sqrt(p * (1 - p) / n) + 1 / n) * 100 if n else float("inf")


# --- each tool's per-hop loss: {hop: {"host", "sent", "loss", "fwd"}} ---------------

def parse_ours(text: str) -> dict:
    summary = None
    for line in text.splitlines():
        if line.startswith("{"):
            doc = json.loads(line)
            if doc.get("type") == "summary":
                summary = doc
    if summary is None:
        raise SystemExit("hoplantern-cli printed no summary:\n" + text[-2000:])
    return {h["ttl"]: {"host": ",".join(a["ip"] for a in h["hosts"]) or "???", "sent": h["sent"],
                       "loss": h["loss_pct"], "fwd": h["forward_loss_pct"]} for h in summary["hops"]}


def parse_mtr(text: str) -> dict:
    doc = json.loads(text[text.index("{"):])
    return {h["count"]: {"host": h["host"], "sent": h["Snt"], "loss": h["Loss%"], "fwd": None}
            for h in doc["report"]["hubs"]}


def tools(cli: str, count: int, interval: float):
    n, s = str(count), f"{interval:g}"
    return [
        ("ours", "hoplantern-cli --watch", [cli, "--watch", "--count", n, "--interval", s, "--json", "-n"], parse_ours),
        ("mtr", "mtr --report -u", ["mtr", "--report", "--report-cycles", n, "--interval", s, "-n", "-u", "--json"],
         parse_mtr),
    ]


# --- 1. and 2. the two paths --------------------------------------------------

def within(value, expected: float, n: int) -> bool:
    return value is not None and abs(value - expected) <= bound(expected, n)


def bench_paths(cli: str, delay_link: str, count: int, interval: float, results: dict) -> None:
    results["paths"] = []
    for key, title, options in PATHS:
        runs = {}
        for name, label, argv, parse in tools(cli, count, interval):
            # A fresh path for each tool: the rate limit's bucket starts full for both.
            with NetnsPath(routers=ROUTERS, delay_ms=DELAY_MS, delay_link=delay_link, icmp_ratelimit=0,
                           **options) as path:
                r = run_in(path.source_ns, argv + [path.target])
            if r.exit != 0:
                raise SystemExit(f"{label} failed ({r.exit}):\n{r.output[-2000:]}")
            runs[name] = {"label": label, "wall_s": r.wall, "cpu_s": r.cpu, "cpu_per_round_us": r.cpu / count * 1e6,
                          "maxrss_kb": r.maxrss_kb, "hops": parse(r.output)}
        ours, mtr = runs["ours"], runs["mtr"]
        print(f"\n  {key}: {title}  ({ROUTERS + 1}-hop path, {DELAY_MS:g} ms per link each way, "
              f"{count} rounds every {interval:g} s)")
        print(f"  {'tool':<26}{'wall':>9}{'CPU/round':>12}{'peak RSS':>11}")
        for run in (ours, mtr):
            print(f"  {run['label']:<26}{run['wall_s']:>8.2f}s{run['cpu_per_round_us']:>10.0f}us"
                  f"{run['maxrss_kb'] / 1024:>9.1f}MB")
        cpu_ratio = ours["cpu_s"] / mtr["cpu_s"] if mtr["cpu_s"] else float("nan")
        rss_ratio = ours["maxrss_kb"] / mtr["maxrss_kb"]
        print(f"  {'ours/mtr':<26}{ours['wall_s'] / mtr['wall_s']:>8.2f}x{cpu_ratio:>11.2f}x{rss_ratio:>10.2f}x")

        print(f"\n  {'hop':>3}  {'address':<16}{'true fwd':>9}{'bound':>8}{'ours Loss%':>11}{'ours Fwd%':>10}"
              f"{'mtr Loss%':>10}")
        hops = []
        for k in range(1, ROUTERS + 2):
            o, m = ours["hops"].get(k), mtr["hops"].get(k)
            expected = true_forward_loss(key, k)
            band = bound(expected, count)
            fmt = lambda v: f"{v:.1f}" if v is not None else "-"  # noqa: E731
            print(f"  {k:>3}  {(o or m or {'host': '-'})['host']:<16}{expected:>8.1f}%{band:>7.1f}%"
                  f"{fmt(o and o['loss']):>11}{fmt(o and o['fwd']):>10}{fmt(m and m['loss']):>10}")
            hops.append({"hop": k, "true_forward_loss_pct": expected, "bound_pct": band, "ours": o, "mtr": m})

        # Verdicts: does each tool's figure lie within the bound of the true forward loss?
        ours_fwd_ok = all(within(h["ours"] and h["ours"]["fwd"], h["true_forward_loss_pct"], count) for h in hops)
        mtr_ok = all(within(h["mtr"] and h["mtr"]["loss"], h["true_forward_loss_pct"], count) for h in hops)
        print(f"  every hop within {SIGMAS} sigma + 1 probe of the true forward loss: "
              f"ours (Fwd%) {'yes' if ours_fwd_ok else 'NO'}, mtr (Loss%) {'yes' if mtr_ok else 'NO'}")
        entry = {"path": key, "title": title, "count": count, "interval_s": interval, "ours": ours, "mtr": mtr,
                 "ours_over_mtr": {"wall": ours["wall_s"] / mtr["wall_s"], "cpu_per_round": cpu_ratio,
                                   "maxrss": rss_ratio},
                 "hops": hops, "ours_forward_within_bound": ours_fwd_ok, "mtr_within_bound": mtr_ok}
        if key == "limit":
            at = hops[ROUTER - 1]
            o, m = at["ours"] or {}, at["mtr"] or {}
            ours_ok = within(o.get("fwd"), 0.0, count)
            mtr_at_ok = within(m.get("loss"), 0.0, count)
            print(f"  at the limited router {ROUTER} (true forward loss 0, bound {at['bound_pct']:.1f} %): "
                  f"ours Fwd% {o.get('fwd')} {'within' if ours_ok else 'OUTSIDE'} (Loss% {o.get('loss')}, "
                  f"the router declining); mtr Loss% {m.get('loss')} {'within' if mtr_at_ok else 'OUTSIDE: fake loss'}")
            entry["at_limited_router"] = {"ours_forward_within_bound": ours_ok, "mtr_within_bound": mtr_at_ok}
        results["paths"].append(entry)
    print(f"\n  true fwd: what the path drops on the way to the hop; bound: {SIGMAS} sigma of a share of "
          f"{count} probes, sqrt(p(1-p)/n), plus one probe.")
    print("  CPU: user + system of the whole process (mtr's includes its mtr-packet helper) / rounds.")
    print("  wall: mtr waits its grace time (5 s) after the last round; hoplantern-cli until the last")
    print("  round's probes are decided (an unanswered one: its wait).")


# --- 3. the simulated day -------------------------------------------------------

def bench_simulated(build: str, hours: int, results: dict) -> None:
    results["simulated"] = {"hours": hours, "hops": SIM_HOPS}
    for program in ("bench_path_watch", "bench_watch_history"):
        binary = os.path.join(build, "bench", program)
        if not os.access(binary, os.X_OK):
            print(f"  {program}: not built (cmake --build {build} --target {program}), left out")
            continue
        t0 = time.monotonic()
        out = subprocess.run([binary, str(hours), str(SIM_HOPS)], capture_output=True, text=True, check=True).stdout
        took = time.monotonic() - t0
        print(f"  {program} {hours} {SIM_HOPS}  ({took:.0f} s)")
        for line in out.splitlines():
            print("    " + line)
        figures = {"output": out, "took_s": took}
        # CPU per round, and the resident set's growth after the first hour (which fills
        # the fixed rings and tiers) and over the whole run, in kB.
        m = re.search(r"([\d.]+) us CPU per round", out) or re.search(r"CPU per round: ([\d.]+) µs", out)
        if m:
            figures["cpu_per_round_us"] = float(m.group(1))
        m = re.search(r"RSS (\d+) kB after 1 h, (\d+) kB at the end", out)
        if m:
            first, end = int(m.group(1)), int(m.group(2))
            figures["rss_growth_after_first_hour_kb"] = end - first
        m = re.search(r"RSS: \d+ kB before, \+(\d+) kB after 1 h, \+(\d+) kB after", out)
        if m:
            first, end = int(m.group(1)), int(m.group(2))
            figures["rss_growth_after_first_hour_kb"] = end - first
            figures["rss_growth_total_kb"] = end
        results["simulated"][program] = figures


def print_summary(results: dict) -> None:
    print("\nSummary (ours/mtr below 1: hoplantern-cli uses less)")
    print(f"  {'path':<7}{'CPU/round ours':>15}{'mtr':>8}{'ratio':>7}{'RSS ours':>10}{'mtr':>8}{'ratio':>7}"
          f"{'loss within bound: ours Fwd%':>30}{'mtr Loss%':>11}")
    for p in results["paths"]:
        o, m, r = p["ours"], p["mtr"], p["ours_over_mtr"]
        print(f"  {p['path']:<7}{o['cpu_per_round_us']:>13.0f}us{m['cpu_per_round_us']:>6.0f}us"
              f"{r['cpu_per_round']:>6.2f}x"
              f"{o['maxrss_kb'] / 1024:>8.1f}MB{m['maxrss_kb'] / 1024:>6.1f}MB{r['maxrss']:>6.2f}x"
              f"{'yes' if p['ours_forward_within_bound'] else 'no':>30}{'yes' if p['mtr_within_bound'] else 'no':>11}")
    sim = results.get("simulated", {})
    for program in ("bench_path_watch", "bench_watch_history"):
        f = sim.get(program)
        if f and "cpu_per_round_us" in f:
            # Growth after the first hour, which fills the fixed rings and tiers: only a longer run shows it.
            growth = (f"RSS {f.get('rss_growth_after_first_hour_kb', 0):+d} kB after the first hour"
                      if sim["hours"] > 1 else "RSS growth: run more than 1 h")
            print(f"  {program} ({sim['hours']} h, {sim['hops']} hops): {f['cpu_per_round_us']:.1f} us CPU per round, "
                  + growth)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build directory (default build/)")
    parser.add_argument("--count", type=int, default=300, help="rounds per watch (default 300)")
    parser.add_argument("--interval", type=float, default=0.1, help="seconds between rounds (default 0.1)")
    parser.add_argument("--hours", type=int, default=24, help="simulated hours (default 24)")
    parser.add_argument("--quick", action="store_true", help="60 rounds and 1 simulated hour")
    parser.add_argument("--json", default=None, metavar="FILE", help="also write every figure to FILE")
    args = parser.parse_args()
    if args.quick:
        args.count, args.hours = 60, 1

    build = os.path.abspath(args.build)
    cli = os.path.join(build, "src", "cli", "hoplantern-cli")
    delay_link = os.path.join(build, "tools", "hl_delay_link")
    reason = skip_reason(args.build, [cli, delay_link], programs=("mtr",), need_nft=True)
    if reason:
        print(f"skipped: {reason}")
        return 77
    # The safety net against a hung tool must outlast a whole watch.
    emulated.HANG_GUARD = args.count * args.interval * 3 + 60
    results: dict = {"routers": ROUTERS, "delay_ms": DELAY_MS, "sigmas": SIGMAS}
    t0 = time.monotonic()
    print("1./2. hoplantern-cli --watch beside mtr --report (both UDP, both as root)")
    bench_paths(cli, delay_link, args.count, args.interval, results)
    print(f"\n3. A simulated {args.hours} h at one round a second on a {SIM_HOPS}-hop path (fake clock)")
    bench_simulated(build, args.hours, results)
    print_summary(results)
    print(f"\n(benchmark took {time.monotonic() - t0:.0f} s)")
    save_figures(args.json, results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
