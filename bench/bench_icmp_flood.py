#!/usr/bin/env python3
"""How busy the UI thread is while a flood of unrelated ICMP reaches the tracer.

A router next to the tracer sends N datagrams a second that quote no probe of the
trace (tools/icmp_flood.py) while hoplantern-cli waits out a trace to a
silent target, and while the window (offscreen) does the same. The tracer's CPU time
over the wall time is the share of each second its UI thread was busy: the engine
reads one datagram per notification on that thread.

    sudo python3 -m bench.bench_icmp_flood [--cli build/src/cli/hoplantern-cli] [--gui build/src/app/hoplantern]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

from tools.netpath import NetnsPath, unavailable_reason

SECONDS = 4.0


def busy_share(path: NetnsPath, cmd: list[str], rate: int, env: dict | None = None) -> tuple[float, int]:
    flood = None
    if rate:
        flood = subprocess.Popen(["ip", "netns", "exec", path.routers[0].ns, sys.executable,
                                  "-m", "tools.icmp_flood", "--to", path.source_address,
                                  "--rate", str(rate), "--seconds", str(SECONDS + 1)],
                                 cwd=ROOT, stdout=subprocess.PIPE, text=True)
        time.sleep(0.3)  # the flood is on before the trace starts
    start = time.monotonic()
    proc = subprocess.Popen(path.exec_args(*cmd), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    # wait4 (not Popen.wait) so the child's resource usage comes with its exit.
    while True:
        pid, _, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() - start > SECONDS:
            proc.terminate()
            _, _, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.01)
    proc.returncode = 0  # reaped above
    wall = time.monotonic() - start
    sent = int(flood.communicate()[0] or 0) if flood else 0
    return (usage.ru_utime + usage.ru_stime) / wall, sent


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--cli", default=os.path.join(HERE, "..", "build", "src", "cli", "hoplantern-cli"))
    p.add_argument("--gui", default=os.path.join(HERE, "..", "build", "src", "app", "hoplantern"))
    p.add_argument("--rates", default="0,2000,5000,10000")
    a = p.parse_args()
    reason = unavailable_reason()
    if reason:
        print(f"skipped: {reason}")
        return 77
    rates = [int(r) for r in a.rates.split(",")]
    with NetnsPath(routers=3, target_silent=True) as path, tempfile.TemporaryDirectory() as config:
        # -t 1 -w 3500: the trace waits 3.5 s for the silent target, reading the flood.
        cli = [a.cli, "-n", "-t", "1", "-w", "3500", path.target]
        gui_env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config)
        gui = [a.gui, path.target]
        print(f"UI thread busy (CPU time / wall time) over {SECONDS:.0f} s of a trace to a silent target")
        print(f"{'flood':>12}{'sent':>8}{'hoplantern-cli':>17}{'window':>10}")
        for rate in rates:
            c, sent = busy_share(path, cli, rate)
            g, _ = busy_share(path, gui, rate, gui_env) if os.path.exists(a.gui) else (float("nan"), 0)
            print(f"{rate:>8} /s{sent:>8}{c * 1000:>12.0f} ms/s{g * 1000:>7.0f} ms/s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
