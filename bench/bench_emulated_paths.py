"""hoplantern-cli against traceroute on paths with real latency.

Every figure comes from one run of this script, all tools measured side by side on
the same emulated path: kernel routers in namespaces (tools/netpath) joined by
links that hold each frame for 10 ms each way (tools/hl_delay_link), so hop k is
2*10*k ms away. Nothing leaves the 198.18.0.0/15 namespaces.

  1. time      Wall time to the final table, lookups off, on a 12-router path:
               every hop answers; one silent router; two adjacent silent routers;
               the target's port-unreachables at the kernel's default rate limit
               (the target alone; a fresh path for every run, so each starts with
               the limit's full burst); a silent (filtered) target; a 25-hop path
               traced with -m 30. hoplantern-cli -n on its defaults as root (raw
               socket) and as user nobody without privilege, against traceroute -n
               and traceroute -n -N 32 -q 1; ours/best is its median over the
               better traceroute's. The same with --fixed-flow (every probe on
               one flow); flow/default is its median over the default mode's.
  2. failures  False failures: over N traces per scenario on paths with jitter
               (+-50% of each link's delay), 2% loss per link, a router whose ICMP
               leaves 200 ms late, and a router limiting its ICMP to 1 a second,
               the rows hoplantern-cli -n shows "failed" on its defaults against
               --fixed-wait (every hop there does answer).
  3. accuracy  Time shown for each hop against the emulated round trip and the
               round trip the probe really had on the wire (captured in the source
               namespace, kernel stamps): mean and worst error in ms.
  4. cost      hoplantern-cli with -m 16, 64 and 255: how long one round of probes
               takes to leave, CPU time of the process and its peak memory.

    sudo python3 -m bench.bench_emulated_paths [--quick] [--build build] [--runs 3]
               [--traces 50] [--only time,failures,accuracy,cost] [--json results.json]

Run from the repository root. Needs root, traceroute and setpriv
(scripts/install-deps.sh) and a build with hoplantern-cli and hl_delay_link.
--quick (one run, 5 traces) takes a few minutes; the full run about half an hour.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

from bench.wire_capture import WireCapture
from bench.bench_support import save_figures, skip_reason
from tools.netpath import NETNS_DIR, InNamespace, NetnsPath, setns

DELAY_MS = 10.0
ROUTERS = 12          # a 13-hop path: 12 routers and the target
LONG_ROUTERS = 24     # a 25-hop path
HANG_GUARD = 120.0    # seconds; a safety net, never a measure
COST_HOPS = (16, 64, 255)
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


# --- running a program inside a namespace, measured -------------------------

class Run:
    def __init__(self, argv, wall, cpu, maxrss_kb, exit_code, output, started):
        self.argv = argv
        self.wall = wall            # seconds, start of the process to its end
        self.cpu = cpu              # seconds, user + system
        self.maxrss_kb = maxrss_kb
        self.exit = exit_code
        self.output = output
        self.started = started      # CLOCK_REALTIME at the start, to match kernel stamps


def run_in(ns: str, argv: list[str]) -> Run:
    """Runs argv in namespace `ns` (entered by setns between fork and exec, so the
    process measured is the program itself); wall time, rusage, output."""
    fd = os.open(os.path.join(NETNS_DIR, ns), os.O_RDONLY | os.O_CLOEXEC)
    out = tempfile.TemporaryFile()
    try:
        started = time.time()
        t0 = time.monotonic()
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                preexec_fn=lambda: setns(fd))
        guard = threading.Timer(HANG_GUARD, proc.kill)
        guard.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            guard.cancel()
        wall = time.monotonic() - t0
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read().decode(errors="replace")
    finally:
        os.close(fd)
        out.close()
    return Run(argv, wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, proc.returncode, text, started)


# --- what each tool printed: (hop, address or None, first time in ms or None) ---

IP = r"(\d+\.\d+\.\d+\.\d+|[0-9a-f]*:[0-9a-f:]+)"


def parse_hoplantern(text: str):
    rows = []
    for line in text.splitlines():
        m = re.match(r"^\s*(\d+)\s+" + IP + r"\s+(\d+)\s", line)
        if m:
            rows.append((int(m.group(1)), m.group(2), float(m.group(3))))
            continue
        m = re.match(r"^\s*(\d+)\s+unknown\s", line)
        if m:
            rows.append((int(m.group(1)), None, None))
    return rows


def parse_traceroute(text: str):
    rows = []
    for line in text.splitlines():
        m = re.match(r"^\s*(\d+)\s+(.*)$", line)
        if not m or line.startswith("traceroute"):
            continue
        rest = m.group(2)
        a = re.search(IP, rest)
        t = re.search(r"([\d.]+) ms", rest)
        rows.append((int(m.group(1)), a.group(1) if a else None, float(t.group(1)) if t else None))
    return rows


def tools(cli: str, nobody_cli: str, family: str = "4"):
    """(label, argv before the target, parser, needs); ours first. Over IPv6 every
    tool is told the family, as a user tracing an IPv6 path would."""
    if family == "6":
        return [(label.replace(" -n", " -6 -n"), argv[:argv.index("-n")] + ["-6"] + argv[argv.index("-n"):], parse, needs)
                for label, argv, parse, needs in tools(cli, nobody_cli)]
    return [
        ("hoplantern-cli -n (root)", [cli, "-n"], parse_hoplantern, cli),
        ("hoplantern-cli -n (nobody)", AS_NOBODY + [nobody_cli, "-n"], parse_hoplantern, "setpriv"),
        ("hoplantern-cli -n --fixed-flow (root)", [cli, "-n", "--fixed-flow"], parse_hoplantern, cli),
        ("hoplantern-cli -n --fixed-flow (nobody)", AS_NOBODY + [nobody_cli, "-n", "--fixed-flow"], parse_hoplantern,
         "setpriv"),
        ("traceroute -n", ["traceroute", "-n"], parse_traceroute, "traceroute"),
        ("traceroute -n -N 32 -q 1", ["traceroute", "-n", "-N", "32", "-q", "1"], parse_traceroute, "traceroute"),
    ]


def available(tool_list):
    out = []
    for label, argv, parser, needs in tool_list:
        if os.path.isabs(needs) and os.access(needs, os.X_OK) or shutil.which(needs):
            out.append((label, argv, parser))
        else:
            print(f"  ({label}: {needs} not installed, left out; see scripts/install-deps.sh)")
    return out


def unprivileged_copy(cli: str, folder: str) -> str:
    """hoplantern-cli where user nobody can run it, without any capability."""
    os.chmod(folder, 0o755)
    copy = os.path.join(folder, "hoplantern-cli")
    shutil.copy(cli, copy)
    os.chmod(copy, 0o755)
    return copy


def reached(rows, hops: int) -> str:
    """'12/12': hops that answered out of the path's, target included."""
    got = {h for h, a, _ in rows if a is not None and h <= hops}
    return f"{len(got)}/{hops}"


def late_summary(path: NetnsPath) -> tuple[float, float]:
    stats = path.link_stats() or {"links": []}
    dirs = [d for link in stats["links"] for d in link["directions"] if d["forwarded"]]
    if not dirs:
        return 0.0, 0.0
    total = sum(d["forwarded"] for d in dirs)
    mean = sum(d["late_mean_us"] * d["forwarded"] for d in dirs) / total
    return mean, max(d["late_max_us"] for d in dirs)


# --- 1. time to the final table -----------------------------------------------

# (name, routers, path options, fresh path for every run, extra arguments for every tool)
SCENARIOS = [
    ("every hop answers", ROUTERS, {}, False, []),
    ("router 6 silent", ROUTERS, {"silent": [6]}, False, []),
    ("routers 6 and 7 silent", ROUTERS, {"silent": [6, 7]}, False, []),
    ("target at the kernel's default ICMP rate limit", ROUTERS, {"target_icmp_ratelimit": 1000}, True, []),
    ("silent (filtered) target", ROUTERS, {"target_silent": True}, False, []),
    ("25-hop path, -m 30", LONG_ROUTERS, {}, False, ["-m", "30"]),
]


def bench_time(cli: str, nobody_cli: str, runs: int, delay_link: str, results: dict, family: str = "4") -> None:
    tool_list = available(tools(cli, nobody_cli, family))
    ours = [label for label, _, _ in tool_list if label.startswith("hoplantern")]
    theirs = [label for label, _, _ in tool_list if label not in ours]
    results["time"] = []
    for name, routers, options, fresh, extra in SCENARIOS:
        hops = routers + 1
        samples = {label: [] for label, _, _ in tool_list}
        outputs = {label: [] for label, _, _ in tool_list}
        path = None

        def new_path():
            return NetnsPath(routers=routers, delay_ms=DELAY_MS, delay_link=delay_link, family=family, **options).up()
        try:
            if not fresh:
                path = new_path()
            # Round-robin, so a slow spell of the machine hits every tool alike.
            for _ in range(runs):
                for label, argv, parser in tool_list:
                    if fresh:
                        path = new_path()
                    cmd = argv + extra + [path.target]
                    r = run_in(path.source_ns, cmd)
                    if r.exit != 0:
                        raise SystemExit(f"{' '.join(cmd)} failed ({r.exit}):\n{r.output}")
                    samples[label].append(r.wall)
                    outputs[label].append(parser(r.output))
                    if fresh:
                        path.down()
                        path = None
        finally:
            if path is not None:
                path.down()
        medians = {label: statistics.median(s) for label, s in samples.items()}
        best = min((medians[label] for label in theirs), default=float("nan"))
        print(f"\n  {name}  ({hops}-hop IPv{family} path, {DELAY_MS:g} ms per link each way; median of {runs} runs)")
        print(f"  {'tool':<44}{'median':>9}{'min':>9}{'max':>9}{'hops':>7}{'ours/best':>11}{'flow/default':>14}")
        rows = []
        for label, _, _ in tool_list:
            s = samples[label]
            ratio = medians[label] / best if label in ours else None
            default = label.replace(" --fixed-flow", "")
            flow = medians[label] / medians[default] if default != label and default in medians else None
            rows.append({"tool": label, "median_s": medians[label], "min_s": min(s), "max_s": max(s),
                         "hops": reached(outputs[label][-1], hops), "ours_over_best": ratio,
                         "flow_over_default": flow, "samples_s": s})
            print(f"  {label:<44}{medians[label]:>8.2f}s{min(s):>8.2f}s{max(s):>8.2f}s{rows[-1]['hops']:>7}"
                  + (f"{ratio:>10.2f}x" if ratio is not None else f"{'':>11}")
                  + (f"{flow:>13.2f}x" if flow is not None else ""))
        results["time"].append({"scenario": name, "family": family, "hops": hops, "runs": runs, "tools": rows,
                                "outputs": outputs})
    print("\n  ours/best = hoplantern-cli's median / the faster traceroute's; below 1: hoplantern-cli is faster.")
    print("  hops = hops that answered in the last run, target included.")


# --- 2. false failures ----------------------------------------------------------

# Every hop of these paths answers, so every row shown "failed" is a false failure.
FAILURE_SCENARIOS = [
    ("jitter +-50% of each link's delay", {"jitter_ms": DELAY_MS / 2}),
    ("2% loss per link", {"loss": 0.02}),
    ("router 6's ICMP leaves 200 ms late", {"late_icmp": {6: 200}}),
    ("router 6 limits its ICMP to 1 a second", {"icmp_limit": "1/second burst 1 packets",
                                                 "icmp_limit_routers": [6]}),
]


def fixed_wait_available(cli: str, ns: str) -> bool:
    r = run_in(ns, [cli, "--fixed-wait", "--help"])
    return "unknown option" not in r.output


def bench_failures(cli: str, traces: int, delay_link: str, results: dict) -> None:
    results["failures"] = []
    fixed = None
    print(f"\n  {ROUTERS + 1}-hop path, {DELAY_MS:g} ms per link each way; {traces} traces of hoplantern-cli -n each")
    print(f"  {'scenario':<42}{'variant':<15}{'failed rows':>12}{'traces with':>13}{'median':>9}")
    for name, options in FAILURE_SCENARIOS:
        with NetnsPath(routers=ROUTERS, delay_ms=DELAY_MS, delay_link=delay_link, **options) as path:
            if fixed is None:
                fixed = fixed_wait_available(cli, path.source_ns)
            for variant, extra in (("defaults", []), ("--fixed-wait", ["--fixed-wait"])):
                if extra and not fixed:
                    print(f"  {name:<42}{variant:<15}  not available (hoplantern-cli: unknown option)")
                    continue
                failed, walls = [], []
                for _ in range(traces):
                    r = run_in(path.source_ns, [cli, "-n", "--json", *extra, path.target])
                    if r.exit != 0:
                        raise SystemExit(f"hoplantern-cli {' '.join(extra)} failed ({r.exit}):\n{r.output}")
                    failed.append(sum(h["result"] == "failed" for h in json.loads(r.output)["hops"]))
                    walls.append(r.wall)
                with_failures = sum(1 for f in failed if f)
                print(f"  {name:<42}{variant:<15}{sum(failed):>12}{with_failures:>9}/{traces:<3}"
                      f"{statistics.median(walls):>8.2f}s")
                results["failures"].append({"scenario": name, "variant": variant, "failed_rows": failed,
                                            "wall_s": walls})
    print("  failed rows: over all traces; traces with: traces showing at least one; median: wall time.")


# --- 3. accuracy ------------------------------------------------------------

def bench_accuracy(cli: str, runs: int, delay_link: str, results: dict) -> None:
    hops = ROUTERS + 1
    shown_err = {h: [] for h in range(1, hops + 1)}     # Time shown - emulated
    wire_err = {h: [] for h in range(1, hops + 1)}      # Time shown - wire
    wire_extra = {h: [] for h in range(1, hops + 1)}    # wire - emulated
    with NetnsPath(routers=ROUTERS, delay_ms=DELAY_MS, delay_link=delay_link) as path:
        for _ in range(runs):
            with WireCapture(path.source_ns, enter=InNamespace) as cap:
                r = run_in(path.source_ns, [cli, "-n", "--json", path.target])
            doc = json.loads(r.output)
            wire = cap.udp_round_trips(path.target)
            for h in doc["hops"]:
                k = h["hop"]
                if k > hops or h["time_ms"] is None:
                    continue
                emulated = path.rtt_ms(k)
                on_wire = wire.get((65536 - k) & 0xFFFF)
                shown_err[k].append(h["time_ms"] - emulated)
                if on_wire is not None:
                    wire_err[k].append(h["time_ms"] - on_wire)
                    wire_extra[k].append(on_wire - emulated)
        late_mean, late_max = late_summary(path)

    # The other tools' first time per hop, from the runs of the time benchmark.
    others = {}
    for entry in results.get("time", []):
        if entry["scenario"] == "every hop answers":
            for label, runs_rows in entry["outputs"].items():
                if label.startswith("hoplantern"):
                    continue
                errs = {h: [] for h in range(1, hops + 1)}
                for rows in runs_rows:
                    for k, addr, t in rows:
                        if addr is not None and t is not None and k <= hops:
                            errs[k].append(t - 2 * DELAY_MS * k)
                others[label] = errs

    def mean(v):
        return statistics.fmean(v) if v else float("nan")

    def worst(v):
        return max(v, key=abs) if v else float("nan")

    print(f"\n  {hops}-hop path, {DELAY_MS:g} ms per link each way; hoplantern-cli -n, {runs} runs;"
          f" error = Time shown - round trip, in ms (mean / worst)")
    head = f"  {'hop':>3}{'emulated':>10}{'wire-emul':>11}{'ours-emul':>15}{'ours-wire':>15}"
    for label in others:
        head += f"{label.split(' -n')[0] + (' N32' if '-N' in label else ''):>15}"
    print(head)
    table = []
    for k in range(1, hops + 1):
        line = (f"  {k:>3}{2 * DELAY_MS * k:>10.0f}{mean(wire_extra[k]):>11.2f}"
                f"{mean(shown_err[k]):>7.2f} /{worst(shown_err[k]):>5.1f}"
                f"{mean(wire_err[k]):>7.2f} /{worst(wire_err[k]):>5.2f}")
        for label, errs in others.items():
            line += f"{mean(errs[k]):>7.2f} /{worst(errs[k]):>5.2f}"
        print(line)
        table.append({"hop": k, "emulated_ms": 2 * DELAY_MS * k, "wire_minus_emulated": wire_extra[k],
                      "ours_minus_emulated": shown_err[k], "ours_minus_wire": wire_err[k],
                      "others_minus_emulated": {l: e[k] for l, e in others.items()}})
    all_shown = [e for v in shown_err.values() for e in v]
    all_wire = [e for v in wire_err.values() for e in v]
    line = (f"  {'all':>3}{'':>10}{mean([e for v in wire_extra.values() for e in v]):>11.2f}"
            f"{mean(all_shown):>7.2f} /{worst(all_shown):>5.1f}{mean(all_wire):>7.2f} /{worst(all_wire):>5.2f}")
    for label, errs in others.items():
        flat = [e for v in errs.values() for e in v]
        line += f"{mean(flat):>7.2f} /{worst(flat):>5.2f}"
    print(line)
    print(f"  mean |ours-emul| {mean([abs(e) for e in all_shown]):.2f} ms, "
          f"mean |ours-wire| {mean([abs(e) for e in all_wire]):.2f} ms")
    print(f"  wire-emul: what the kernels' forwarding and the emulator add (frames left the forwarder "
          f"{late_mean:.1f} us late on average, {late_max:.0f} us at worst).")
    print("  The other tools' columns: their first time per hop against the emulated round trip,"
          " from the time benchmark's runs.")
    results["accuracy"] = {"runs": runs, "hops": table, "late_mean_us": late_mean, "late_max_us": late_max}


# --- 4. cost ------------------------------------------------------------------

def bench_cost(cli: str, runs: int, delay_link: str, results: dict) -> None:
    rows = []
    with NetnsPath(routers=ROUTERS, delay_ms=DELAY_MS, delay_link=delay_link) as path:
        base = [run_in(path.source_ns, [cli, "--help"]) for _ in range(runs)]
        for m in COST_HOPS:
            sample = []
            for _ in range(runs):
                with WireCapture(path.source_ns, enter=InNamespace) as cap:
                    r = run_in(path.source_ns, [cli, "-n", "-m", str(m), path.target])
                if r.exit != 0:
                    raise SystemExit(f"hoplantern-cli -m {m} failed ({r.exit}):\n{r.output}")
                rnd = cap.first_round(path.target)
                sample.append({
                    "wall_s": r.wall, "cpu_s": r.cpu, "maxrss_kb": r.maxrss_kb,
                    "probes": len(rnd),
                    "round_ms": (rnd[-1].stamp - rnd[0].stamp) * 1000 if rnd else float("nan"),
                    "first_probe_ms": (rnd[0].stamp - r.started) * 1000 if rnd else float("nan"),
                })
            rows.append((m, sample))
    med = lambda s, k: statistics.median(x[k] for x in s)  # noqa: E731
    print(f"\n  {ROUTERS + 1}-hop path, every hop answers (rows past the target: the target); median of {runs} runs")
    print(f"  {'-m':>5}{'probes':>8}{'round send':>12}{'per probe':>11}{'to 1st probe':>14}"
          f"{'wall':>9}{'CPU':>9}{'max RSS':>10}{'CPU x':>7}{'RSS x':>7}")
    b_cpu = statistics.median(r.cpu for r in base)
    b_rss = statistics.median(r.maxrss_kb for r in base)
    print(f"  {'--help (start-up only)':<38}{'':>14}{statistics.median(r.wall for r in base) * 1000:>7.0f}ms"
          f"{b_cpu * 1000:>7.0f}ms{b_rss / 1024:>8.1f}MB")
    first_cpu = med(rows[0][1], "cpu_s")
    first_rss = med(rows[0][1], "maxrss_kb")
    out = []
    for m, s in rows:
        probes = med(s, "probes")
        rnd = med(s, "round_ms")
        cpu = med(s, "cpu_s")
        rss = med(s, "maxrss_kb")
        print(f"  {m:>5}{probes:>8.0f}{rnd:>10.2f}ms{rnd / max(probes, 1) * 1000:>9.1f}us"
              f"{med(s, 'first_probe_ms'):>12.1f}ms{med(s, 'wall_s') * 1000:>7.0f}ms{cpu * 1000:>7.0f}ms"
              f"{rss / 1024:>8.1f}MB{cpu / first_cpu:>6.2f}x{rss / first_rss:>6.2f}x")
        out.append({"hops": m, "samples": s})
    print("  round send: first to last probe of the first round on the wire; to 1st probe: from the")
    print("  process's start; CPU: user + system of the whole process; x: against -m 16.")
    results["cost"] = {"runs": runs, "help": {"cpu_s": b_cpu, "maxrss_kb": b_rss}, "rows": out}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build directory (default build/)")
    parser.add_argument("--cli", default=None, help="hoplantern-cli (default BUILD/src/cli/hoplantern-cli)")
    parser.add_argument("--delay-link", default=None,
                        help="hl_delay_link (default BUILD/tools/hl_delay_link)")
    parser.add_argument("--runs", type=int, default=3, help="runs of each tool per scenario (default 3)")
    parser.add_argument("--traces", type=int, default=50, help="traces per false-failure scenario (default 50)")
    parser.add_argument("--quick", action="store_true", help="one run and 5 traces: a few minutes")
    parser.add_argument("--only", default="time,failures,accuracy,cost",
                        help="comma-separated: time, failures, accuracy, cost")
    parser.add_argument("--json", default=None, metavar="FILE", help="also write every figure to FILE")
    parser.add_argument("--family", choices=("4", "6"), default="4",
                        help="the time part over IPv4 (default) or IPv6 (tools given -6)")
    args = parser.parse_args()
    if args.quick:
        args.runs, args.traces = 1, 5

    cli = os.path.abspath(args.cli or os.path.join(args.build, "src", "cli", "hoplantern-cli"))
    delay_link = args.delay_link or os.path.join(args.build, "tools", "hl_delay_link")
    reason = skip_reason(args.build, [cli, delay_link], need_nft=True)
    if reason:
        print(f"skipped: {reason}")
        return 77
    parts = [p.strip() for p in args.only.split(",") if p.strip()]
    unknown = set(parts) - {"time", "failures", "accuracy", "cost"}
    if unknown:
        parser.error("--only: unknown part(s) " + ", ".join(sorted(unknown)))
    results: dict = {"delay_ms": DELAY_MS, "routers": ROUTERS}
    t0 = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="hoplantern-bench-") as folder:
        if "time" in parts:
            print("1. Time to the final table (lookups off)")
            bench_time(cli, unprivileged_copy(cli, folder), args.runs, delay_link, results, args.family)
        if "failures" in parts:
            print("\n2. False failures on paths that answer")
            bench_failures(cli, args.traces, delay_link, results)
    if "accuracy" in parts:
        print("\n3. RTT accuracy: Time shown against the emulated round trip")
        bench_accuracy(cli, 3 if args.quick else 10, delay_link, results)
    if "cost" in parts:
        print("\n4. Cost as the rows grow")
        bench_cost(cli, args.runs, delay_link, results)
    print(f"\n(benchmark took {time.monotonic() - t0:.0f} s)")
    save_figures(args.json, results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
