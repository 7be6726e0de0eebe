"""hoplantern-cli --watch of many targets in one process: CPU, resident set, sockets.

One path of 29 kernel routers (tools/netpath, the kernels' ICMP rate limit off) ends in
a target namespace holding TARGETS addresses, so every target is 30 hops away and every
probe is answered. One process watches them all from a targets file at one round a
second (-m 30 -n --json), as root (raw ICMP sockets) and as user nobody (the probe
sockets' error queues). For each run:

  cpu/s        CPU time (user + system) per second of watching, after the first
               WARMUP seconds (allocation and name set-up left out), from /proc
  us/round     the same per target-round (one round of 30 probes of one target)
  start cpu    CPU time of the first WARMUP seconds
  rss          resident set at the end of the watch, and the peak (wait4)
  sockets      the most socket descriptors seen open at once
  answered     the share of probes answered before their deadline over all targets
  scrape       the slowest of SCRAPES scrapes of /metrics (--listen) near the end, and
               the size of the exposition text

    sudo python3 -m bench.bench_many_targets [--build build] [--targets 50] [--seconds 60]

Run from the repository root as root with a build holding hoplantern-cli.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from tools.netpath import NETNS_DIR, NetnsPath, setns, unavailable_reason

ROUTERS = 29          # a 30-hop path: 29 routers and the targets
WARMUP = 5.0          # seconds left out of the steady figures
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
TICKS = os.sysconf("SC_CLK_TCK")
LISTEN = "127.0.0.1:4677"
SCRAPES = 10


def cpu_seconds(pid: int) -> float:
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def rss_kb(pid: int) -> int:
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def sockets(pid: int) -> int:
    fd_dir = "/proc/%d/fd" % pid
    count = 0
    for fd in os.listdir(fd_dir):
        try:
            count += os.readlink(os.path.join(fd_dir, fd)).startswith("socket:")
        except OSError:
            pass
    return count


def run(path: NetnsPath, cli: str, targets_file: str, seconds: int, prefix: list) -> dict:
    argv = prefix + [cli, "--watch", "--targets", targets_file, "--count", str(seconds), "-m", "30", "-n", "--json",
                     "--listen", LISTEN]
    fd = os.open(os.path.join(NETNS_DIR, path.source_ns), os.O_RDONLY | os.O_CLOEXEC)
    out = tempfile.TemporaryFile()
    try:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                preexec_fn=lambda: setns(fd))
        t0 = time.monotonic()
        time.sleep(WARMUP)
        cpu0, at0 = cpu_seconds(proc.pid), time.monotonic()
        most_sockets = 0
        while time.monotonic() - t0 < seconds - 1:
            most_sockets = max(most_sockets, sockets(proc.pid))
            time.sleep(0.5)
        cpu1, at1, rss = cpu_seconds(proc.pid), time.monotonic(), rss_kb(proc.pid)
        scrapes = [scrape(path) for _ in range(SCRAPES)]
        proc.send_signal(signal.SIGINT)  # with --listen it serves on after its rounds
        _, status, usage = os.wait4(proc.pid, 0)
        out.seek(0)
        lines = [json.loads(line) for line in out.read().decode().splitlines()]
    finally:
        os.close(fd)
        out.close()
    summaries = [x for x in lines if x["type"] == "summary"]
    sent = sum(h["sent"] for s in summaries for h in s["hops"])
    recv = sum(h["recv"] for s in summaries for h in s["hops"])
    per_s = (cpu1 - cpu0) / (at1 - at0)
    return {
        "status": os.waitstatus_to_exitcode(status),
        "summaries": len(summaries),
        "hops": sorted({len(s["hops"]) for s in summaries}),
        "cpu_per_s": per_s,
        "us_per_target_round": per_s / len(summaries) * 1e6 if summaries else 0,
        "start_cpu_s": cpu0,
        "rss_kb": rss,
        "peak_rss_kb": usage.ru_maxrss,
        "sockets": most_sockets,
        "answered": recv / sent if sent else 0,
        "scrape_s": max(t for t, _ in scrapes),
        "scrape_bytes": max(n for _, n in scrapes),
    }


def scrape(path: NetnsPath) -> tuple[float, int]:
    """The time curl took for one GET /metrics inside the path's source namespace, and the size."""
    done = subprocess.run(["ip", "netns", "exec", path.source_ns, "curl", "-sS", "-o", "/dev/null", "-w",
                           "%{time_total} %{size_download}", "http://%s/metrics" % LISTEN],
                          capture_output=True, text=True, check=True)
    seconds, size = done.stdout.split()
    return float(seconds), int(size)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--targets", type=int, default=50)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args()
    reason = unavailable_reason()
    if reason:
        print("skipped:", reason)
        return 77
    built = os.path.join(args.build, "src", "cli", "hoplantern-cli")
    bindir = tempfile.mkdtemp(prefix="hoplantern-bench-")
    os.chmod(bindir, 0o755)
    try:
        cli = shutil.copy(built, os.path.join(bindir, "hoplantern-cli"))  # no file capability: nobody is plain
        targets_file = os.path.join(bindir, "targets")
        with NetnsPath(routers=ROUTERS) as path:
            last = path.target.rsplit(".", 1)
            addresses = ["%s.%d" % (last[0], int(last[1]) + i) for i in range(args.targets)]
            for address in addresses[1:]:
                subprocess.run(["ip", "-n", path.target_ns, "addr", "add", address + "/24", "dev", "w0"], check=True)
            with open(targets_file, "w") as f:
                f.write("# every target 30 hops away\n")
                f.writelines("%s name=t%d\n" % (a, i) for i, a in enumerate(addresses))
            os.chmod(targets_file, 0o644)
            results = {}
            for who, prefix in (("root", []), ("nobody", AS_NOBODY)):
                results[who] = run(path, cli, targets_file, args.seconds, prefix)
    finally:
        shutil.rmtree(bindir)
    print("%d targets x %d hops, one round a second, %d s" % (args.targets, ROUTERS + 1, args.seconds))
    print("%-7s %6s %9s %10s %10s %9s %10s %8s %9s %10s" % ("who", "status", "cpu/s", "us/round", "start cpu",
                                                           "rss MB", "peak MB", "sockets", "answered", "scrape"))
    for who, r in results.items():
        print("%-7s %6d %8.1f%% %10.0f %9.2fs %9.1f %10.1f %8d %8.2f%% %7.1f ms (%d kB)" % (
            who, r["status"], r["cpu_per_s"] * 100, r["us_per_target_round"], r["start_cpu_s"], r["rss_kb"] / 1024,
            r["peak_rss_kb"] / 1024, r["sockets"], r["answered"] * 100, r["scrape_s"] * 1000,
            r["scrape_bytes"] // 1024))
        if r["summaries"] != args.targets or r["hops"] != [ROUTERS + 1]:
            print("  %s: %d summaries with %s hops, not %d with %d" % (who, r["summaries"], r["hops"], args.targets,
                                                                   ROUTERS + 1))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
