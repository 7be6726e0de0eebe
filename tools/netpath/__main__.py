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


def _numbers(text: str) -> float | list[float]:
    try:
        values = [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("not a number or comma-separated numbers: %r" % text)
    return values[0] if len(values) == 1 else values


def _late(text: str) -> tuple[int, float]:
    try:
        hop, ms = text.split(":")
        return int(hop), float(ms)
    except ValueError:
        raise argparse.ArgumentTypeError("not HOP:MS: %r" % text)


# (flag, its options); NetnsPath takes each under the flag's name (--delay-ms: delay_ms).
BUILD_OPTIONS = [
    ("--routers", dict(type=int, default=4, metavar="N", help="routers before the target (default 4)")),
    ("--family", dict(choices=FAMILIES, default="4", help="IPv4, IPv6 or both (default 4)")),
    ("--silent", dict(type=int, nargs="+", action="extend", default=[], metavar="K",
                      help="router K (hop number) sends no ICMP; repeatable")),
    ("--target-silent", dict(action="store_true", help="the target sends no ICMP")),
    ("--names", dict(action="store_true", help="hosts file with rK.path.test and target.path.test for the source")),
    ("--ecmp", dict(type=int, metavar="K", help="router K splits into two equal-cost branches of two routers each")),
    ("--icmp-ratelimit", dict(type=int, default=0, metavar="MS",
                              help="ICMP rate limit, every namespace (default 0: all answered; kernel: 1000)")),
    ("--target-icmp-ratelimit", dict(type=int, metavar="MS", help="the same, target only")),
    ("--icmp-limit", dict(metavar="RATE", help="nftables limit on routers' ICMP, e.g. '1/second burst 1 packets'")),
    ("--icmp-limit-routers", dict(type=int, nargs="+", metavar="K", help="only these get --icmp-limit (default all)")),
    ("--forward-drop", dict(type=_late, action="append", default=[], metavar="HOP:PCT",
                            help="router HOP drops PCT %% of the probes it forwards; repeatable")),
    ("--delay-ms", dict(type=_numbers, default=0.0, metavar="MS", help="slow links: one way, each direction, "
                                                                        "one value or one per link (1,2,...)")),
    ("--jitter-ms", dict(type=_numbers, default=0.0, metavar="MS", help="spread over delay +- jitter; the same")),
    ("--loss", dict(type=_numbers, default=0.0, metavar="FRACTION", help="frames dropped (0..1); the same")),
    ("--late-icmp", dict(type=_late, action="append", default=[], metavar="HOP:MS",
                         help="the ICMP router HOP sends leaves MS late; repeatable")),
    ("--link-seed", dict(type=int, metavar="N", help="seed of jitter and loss")),
    ("--delay-link", dict(metavar="PATH", help="the hl_delay_link binary (default $HL_DELAY_LINK or "
                                               "build/tools/hl_delay_link)")),
]


def _path(args) -> NetnsPath:
    options = {name: getattr(args, name) for name in (flag[2:].replace("-", "_") for flag, _ in BUILD_OPTIONS)}
    return NetnsPath(**dict(options, late_icmp=dict(args.late_icmp), forward_drop=dict(args.forward_drop)))


def _shell_vars(path: NetnsPath) -> dict[str, str]:
    return {"NETNS_PATH_HANDLE": path.handle, "NETNS_PATH_SRC": path.source_ns,
            "NETNS_PATH_TARGET": path.target, "NETNS_PATH_JSON": json.dumps(path.describe())}


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python3 -m tools.netpath", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    up = sub.add_parser("up", help="build a path and leave it up; prints how to reach it")
    up.add_argument("--json", action="store_true", help="print JSON (default: shell assignments for eval)")
    up.add_argument("--owner", type=int, default=0, metavar="PID",
                    help="once process PID has ended, the next path built removes this one")
    down = sub.add_parser("down", help="remove paths made by `up`")
    down.add_argument("handles", nargs="*", metavar="HANDLE")
    down.add_argument("--all", action="store_true", help="every path there is, other runs' too")
    down.add_argument("--stale", action="store_true", help="the paths whose owner has ended")
    run = sub.add_parser("run", help="build a path, run a command, remove the path")
    run.add_argument("--inside", action="store_true",
                     help="run it in the source namespace (else outside, with NETNS_PATH_* set)")
    run.add_argument("cmd", nargs=argparse.REMAINDER, help="command; {target}, {src}, {handle} are replaced")
    for p in (up, run):
        for flag, options in BUILD_OPTIONS:
            p.add_argument(flag, **options)
    return parser


def _down(parser, args) -> int:
    if args.stale:
        for handle in lifetime.remove_stale():
            print("removed %s" % handle)
    elif not args.handles and not args.all:
        parser.error("down needs a HANDLE, --all or --stale")
    status = 0
    for handle in lifetime.all_handles() if args.all else args.handles:
        try:
            lifetime.remove_handle(handle)
        except (ValueError, lifetime.FixtureError) as exc:
            print("netpath: %s" % exc, file=sys.stderr)
            status = 2 if isinstance(exc, ValueError) else 1
    return status


def _run(path: NetnsPath, cmd: list[str], inside: bool) -> int:
    for key, value in (("{target}", path.target), ("{src}", path.source_ns), ("{handle}", path.handle)):
        cmd = [part.replace(key, value) for part in cmd]
    if inside:
        cmd = path.exec_args(*cmd)
    # Known to the signal handler, which ends it before removing the namespaces, so
    # nothing of the run outlives its path.  Signals wait until it is recorded (the
    # child itself takes them at once).
    signal.pthread_sigmask(signal.SIG_BLOCK, lifetime.STOPPERS)
    try:
        child = subprocess.Popen(cmd, env=dict(os.environ, **_shell_vars(path)),
                                 preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_UNBLOCK, lifetime.STOPPERS))
        lifetime.children.add(child)
    except OSError as exc:
        print("netpath: cannot run %s: %s" % (cmd[0], exc), file=sys.stderr)
        return 127 if exc.errno == errno.ENOENT else 126
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, lifetime.STOPPERS)
    try:
        return child.wait()
    finally:
        lifetime.children.discard(child)


def main(argv: list[str] | None = None) -> int:
    try:
        return _main(argv)
    except KeyboardInterrupt:
        # Everything made is already removed by the signal handler or the with-block.
        print("netpath: interrupted; namespaces removed", file=sys.stderr)
        return 130


def _main(argv: list[str] | None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    if args.command == "down":
        return _down(parser, args)
    try:
        path = _path(args)
    except ValueError as exc:
        parser.error(str(exc))
    if args.command == "run":
        cmd = args.cmd[1:] if args.cmd[:1] == ["--"] else args.cmd
        if not cmd:
            parser.error("run needs a command after --")
    elif args.owner and lifetime.process_start(args.owner) is None:
        parser.error("--owner %d: no such process" % args.owner)
    else:
        path.emulator_owner = args.owner  # the path outlives this command: so does its link
    try:
        path.up()
    except FixtureUnavailable as exc:
        print("netpath: skipped: %s" % exc, file=sys.stderr)
        return SKIP_EXIT
    except lifetime.FixtureError as exc:
        print("netpath: %s" % exc, file=sys.stderr)
        return 1
    if args.command == "run":
        with path:
            return _run(path, cmd, args.inside)
    path.detach(args.owner)
    if args.json:
        print(json.dumps(path.describe(), indent=2))
    else:
        print("".join("%s=%s\n" % (k, shlex.quote(v)) for k, v in _shell_vars(path).items()), end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
