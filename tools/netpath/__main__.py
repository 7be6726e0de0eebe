"""Command line: build a path and leave it up, remove paths, or run one command on a path.

    python3 -m tools.netpath up --routers 5 --silent 3 --json    # from the repository root
    python3 tools/netpath down HANDLE                            # or as a folder, from anywhere
    python3 -m tools.netpath run --routers 5 --inside -- traceroute -n {target}

Exits 77 (skipped) when this machine cannot host paths: not root, no usable `ip netns`.
"""

from __future__ import annotations

import argparse
import errno
import json
import os
import shlex
import signal
import subprocess
import sys

if not __package__:
    # Run as a folder (`python3 tools/netpath`): import it as the package it is.
    sys.path[0] = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    __package__ = "tools.netpath"

from . import lifetime  # noqa: E402
from .namespaces import SKIP_EXIT  # noqa: E402
from .path import FAMILIES, FixtureUnavailable, NetnsPath  # noqa: E402


def _numbers(text: str) -> list[float]:
    try:
        return [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("not a number or comma-separated numbers: %r" % text)


def _late(text: str) -> tuple[int, float]:
    try:
        hop, ms = text.split(":")
        return int(hop), float(ms)
    except ValueError:
        raise argparse.ArgumentTypeError("not HOP:MS: %r" % text)


def _build_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("--routers", type=int, default=4, metavar="N", help="routers before the target (default 4)")
    p.add_argument("--family", choices=FAMILIES, default="4", help="IPv4, IPv6 or both (default 4)")
    p.add_argument("--silent", type=int, nargs="+", action="extend", default=[], metavar="K",
                   help="router K (hop number) sends no ICMP; repeatable")
    p.add_argument("--target-silent", action="store_true", help="the target sends no ICMP")
    p.add_argument("--names", action="store_true",
                   help="hosts file with rK.path.test and target.path.test for the source namespace")
    p.add_argument("--ecmp", type=int, default=None, metavar="K",
                   help="router K splits into two equal-cost branches of two routers each")
    p.add_argument("--icmp-ratelimit", type=int, default=0, metavar="MS",
                   help="ICMP rate limit in every namespace (default 0: every probe answered; kernel: 1000)")
    p.add_argument("--target-icmp-ratelimit", type=int, default=None, metavar="MS", help="the same, target only")
    p.add_argument("--icmp-limit", default=None, metavar="RATE",
                   help="nftables limit on routers' ICMP output, e.g. '1/second burst 1 packets'")
    p.add_argument("--icmp-limit-routers", type=int, nargs="+", default=None, metavar="K",
                   help="only these routers get --icmp-limit (default all)")
    emu = p.add_argument_group("slow links (one value for every link, or a comma-separated list, link 1 first)")
    emu.add_argument("--delay-ms", type=_numbers, default=[0.0], metavar="MS", help="one way, each direction")
    emu.add_argument("--jitter-ms", type=_numbers, default=[0.0], metavar="MS", help="spread over delay +- jitter")
    emu.add_argument("--loss", type=_numbers, default=[0.0], metavar="FRACTION", help="frames dropped (0..1)")
    emu.add_argument("--late-icmp", type=_late, action="append", default=[], metavar="HOP:MS",
                     help="the ICMP router HOP sends leaves MS late; repeatable")
    emu.add_argument("--link-seed", type=int, default=None, metavar="N", help="seed of jitter and loss")
    emu.add_argument("--delay-link", default=None, metavar="PATH",
                     help="the hl_delay_link binary (default $HL_DELAY_LINK or build/tools/hl_delay_link)")


def _path(args) -> NetnsPath:
    one = lambda v: v[0] if len(v) == 1 else v  # noqa: E731
    return NetnsPath(routers=args.routers, family=args.family, silent=args.silent,
                     target_silent=args.target_silent, names=args.names, ecmp=args.ecmp,
                     icmp_ratelimit=args.icmp_ratelimit, target_icmp_ratelimit=args.target_icmp_ratelimit,
                     icmp_limit=args.icmp_limit, icmp_limit_routers=args.icmp_limit_routers,
                     delay_ms=one(args.delay_ms), jitter_ms=one(args.jitter_ms), loss=one(args.loss),
                     late_icmp=dict(args.late_icmp), link_seed=args.link_seed, delay_link=args.delay_link)


def _shell_vars(path: NetnsPath) -> dict[str, str]:
    return {"NETNS_PATH_HANDLE": path.handle, "NETNS_PATH_SRC": path.source_ns,
            "NETNS_PATH_TARGET": path.target, "NETNS_PATH_JSON": json.dumps(path.describe())}


def main(argv: list[str] | None = None) -> int:
    try:
        return _main(argv)
    except KeyboardInterrupt:
        # Everything made is already removed by the signal handler or the with-block.
        print("netpath: interrupted; namespaces removed", file=sys.stderr)
        return 130


def _main(argv: list[str] | None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m tools.netpath", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    up = sub.add_parser("up", help="build a path and leave it up; prints how to reach it")
    _build_options(up)
    up.add_argument("--json", action="store_true", help="print JSON (default: shell assignments for eval)")
    up.add_argument("--owner", type=int, default=0, metavar="PID",
                    help="once process PID has ended, the next path built removes this one")
    down = sub.add_parser("down", help="remove paths made by `up`")
    down.add_argument("handles", nargs="*", metavar="HANDLE")
    down.add_argument("--all", action="store_true", help="every path there is, other runs' too")
    down.add_argument("--stale", action="store_true", help="the paths whose owner has ended")
    run = sub.add_parser("run", help="build a path, run a command, remove the path")
    _build_options(run)
    run.add_argument("--inside", action="store_true",
                     help="run it in the source namespace (else outside, with NETNS_PATH_* set)")
    run.add_argument("cmd", nargs=argparse.REMAINDER, help="command; {target}, {src}, {handle} are replaced")
    sub.add_parser("list", help="list paths that exist now")
    args = parser.parse_args(argv)

    if args.command == "list":
        for handle in lifetime.all_handles():
            print(handle, " ".join(lifetime.namespaces_of(handle)))
        return 0
    if args.command == "down":
        if args.stale:
            for handle in lifetime.remove_stale():
                print("removed %s" % handle)
        elif not args.handles and not args.all:
            parser.error("down needs a HANDLE, --all or --stale")
        status = 0
        for handle in lifetime.all_handles() if args.all else args.handles:
            try:
                lifetime.remove_handle(handle)
            except ValueError as exc:
                print("netpath: %s" % exc, file=sys.stderr)
                status = 2
            except lifetime.FixtureError as exc:
                print("netpath: %s" % exc, file=sys.stderr)
                status = 1
        return status

    try:
        path = _path(args)
    except ValueError as exc:
        parser.error(str(exc))
    if args.command == "run":
        cmd = args.cmd[1:] if args.cmd[:1] == ["--"] else args.cmd
        if not cmd:
            parser.error("run needs a command after --")
    else:
        if args.owner and lifetime.process_start(args.owner) is None:
            parser.error("--owner %d: no such process" % args.owner)
        path.emulator_owner = args.owner  # the path outlives this command: so does its link
    try:
        path.up()
    except FixtureUnavailable as exc:
        print("netpath: skipped: %s" % exc, file=sys.stderr)
        return SKIP_EXIT
    except lifetime.FixtureError as exc:
        print("netpath: %s" % exc, file=sys.stderr)
        return 1

    if args.command == "up":
        path.detach(args.owner)
        if args.json:
            print(json.dumps(path.describe(), indent=2))
        else:
            print("".join("%s=%s\n" % (k, shlex.quote(v)) for k, v in _shell_vars(path).items()), end="")
        return 0

    with path:
        values = {"{target}": path.target, "{src}": path.source_ns, "{handle}": path.handle}
        for key, value in values.items():
            cmd = [part.replace(key, value) for part in cmd]
        if args.inside:
            cmd = path.exec_args(*cmd)
        # Known to the signal handler, which ends it before removing the namespaces,
        # so nothing of the run outlives its path.  Signals wait until it is recorded
        # (the child itself takes them at once).
        stoppers = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        signal.pthread_sigmask(signal.SIG_BLOCK, stoppers)
        try:
            child = subprocess.Popen(cmd, env=dict(os.environ, **_shell_vars(path)),
                                     preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_UNBLOCK, stoppers))
            lifetime.track(child)
        except OSError as exc:
            print("netpath: cannot run %s: %s" % (cmd[0], exc), file=sys.stderr)
            return 127 if exc.errno == errno.ENOENT else 126
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, stoppers)
        try:
            return child.wait()
        finally:
            lifetime.untrack(child)


if __name__ == "__main__":
    sys.exit(main())
