"""Lifetime of paths: removal that survives signals, crashes and killed owners.

Every path is registered before anything of it exists, so SIGINT/SIGTERM/SIGHUP
and interpreter exit remove whatever was made.  A small file per path names the
process that owns it, so a path whose owner was killed outright (SIGKILL, e.g. a
ctest timeout) is removed by the next path built instead of staying for good.
The delaying link of a path is known by pid and start time, so a later process
that reuses its pid is never signalled.
"""

from __future__ import annotations

import atexit
import json
import os
import re
import select
import shutil
import signal
import subprocess
import threading
import time

from .namespaces import NETNS_DIR, PREFIX

HANDLE_RE = re.compile(r"^hlpath-[0-9a-f]{8}$")
ETC_NETNS = "/etc/netns"
OWNERS_DIR = "/run/hoplantern-netns"
STOPPERS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class FixtureError(Exception):
    """Building or removing a path failed."""


live: dict[str, object] = {}  # handle -> NetnsPath, while this process owns it
live_lock = threading.RLock()
children: set[subprocess.Popen] = set()  # ended before anything is removed
_previous_handlers: dict[int, object] = {}


def teardown_all() -> None:
    # A child `ip` may still be creating namespaces: stop it first, or it could
    # add one after the removal below has looked.
    for child in list(children):
        try:
            child.kill()
            # Not child.wait(): the interrupted main thread may be inside it,
            # holding the lock it takes, and this handler runs on that thread.
            os.waitpid(child.pid, 0)
        except OSError:
            pass  # already reaped
    with live_lock:
        for path in list(live.values()):
            path.down()


def _on_signal(signum, frame):
    teardown_all()
    previous = _previous_handlers[signum]
    if signum == signal.SIGINT and previous is signal.default_int_handler:
        raise KeyboardInterrupt
    if callable(previous):
        previous(signum, frame)
    elif previous == signal.SIG_DFL:
        # Die of the same signal, so the parent sees what really happened.
        signal.signal(signum, signal.SIG_DFL)
        os.kill(os.getpid(), signum)
    raise SystemExit(128 + signum)


def install_handlers() -> None:
    if install_handlers.done:
        return
    install_handlers.done = True
    atexit.register(teardown_all)
    if threading.current_thread() is not threading.main_thread():
        return  # signal handlers can only be set from the main thread; atexit still works
    for signum in STOPPERS:
        previous = signal.getsignal(signum)
        # Someone else's SIGINT handler (e.g. unittest's --catch) keeps control;
        # the with-block and atexit still remove the namespaces then.
        if previous == signal.SIG_IGN or (signum == signal.SIGINT and previous is not signal.default_int_handler):
            continue
        _previous_handlers[signum] = previous
        signal.signal(signum, _on_signal)


install_handlers.done = False


def run_batches(jobs: list[tuple[list[str], str]], check: bool = True) -> list[str]:
    """Runs commands side by side, each fed its text on stdin; their stderr, in order."""
    procs = []
    try:
        for args, text in jobs:
            proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True)
            children.add(proc)
            procs.append(proc)
            proc.stdin.write(text)  # a batch is a few KiB: fits the pipe, never blocks
            proc.stdin.close()
        errors = [proc.stderr.read().strip() for proc in procs]
        failures = ["%s failed (exit %d): %s" % (" ".join(proc.args), proc.returncode, err)
                    for proc, err in zip(procs, errors) if proc.wait() != 0]
        if check and failures:
            raise FixtureError("; ".join(failures))
        return errors
    finally:
        for proc in procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stderr.close()
            children.discard(proc)


# --- processes known by pid and start time ---------------------------------

def _stat_field(pid: int, index: int) -> str | None:
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[index]
    except (OSError, IndexError):
        return None


def process_start(pid: int) -> str | None:
    """Start time of a live process, to tell it from a later one with its pid."""
    return _stat_field(pid, 19)


def alive(pid: int) -> bool:
    return _stat_field(pid, 0) not in (None, "Z")


def stop_process(pid: int, start: str | None, grace: float = 2.0) -> None:
    """SIGTERM, then SIGKILL after `grace` seconds, to the process started at `start`."""
    try:
        fd = os.pidfd_open(pid) if pid and start else None
    except ProcessLookupError:
        return
    if fd is None:
        return
    with os.fdopen(fd) as pidfd:  # readable once the process has ended
        for sig in (signal.SIGTERM, signal.SIGKILL):
            # Checked with the pidfd open: the pid cannot go to another process meanwhile.
            if process_start(pid) != start or select.select([pidfd], [], [], 0)[0]:
                break
            signal.pidfd_send_signal(fd, sig)
            if select.select([pidfd], [], [], grace)[0]:
                break
    try:
        os.waitpid(pid, os.WNOHANG)  # ours: reaped
    except ChildProcessError:
        pass


# --- files of a path ----------------------------------------------------------

def link_file(handle: str, what: str) -> str:
    """The delaying link's pid ("pid"), counters ("stats.json") and messages ("log")."""
    return os.path.join(OWNERS_DIR, "%s.link-%s" % (handle, what))


def read_json(file: str) -> dict:
    try:
        with open(file) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}  # none (yet), or being written


def write_json(file: str, value) -> None:
    os.makedirs(OWNERS_DIR, exist_ok=True)
    with open(file + ".tmp", "w") as f:
        json.dump(value, f)
    os.replace(file + ".tmp", file)


def write_owner(handle: str, pid: int) -> None:
    """pid 0: nobody owns the path; it stays until `down`."""
    write_json(os.path.join(OWNERS_DIR, handle), {"pid": pid, "start": process_start(pid) if pid else None})


def namespaces_of(handle: str) -> list[str]:
    """Every namespace that exists now for this handle."""
    if not HANDLE_RE.match(handle):
        raise ValueError("not a path handle: %r" % handle)
    # rK, rKa/rKb (branches), dK (an emulated link's own namespace).
    pattern = re.compile("^" + re.escape(handle) + r"-(src|target|r\d+[ab]?|d\d+)$")
    try:
        return sorted(n for n in os.listdir(NETNS_DIR) if pattern.match(n))
    except FileNotFoundError:
        return []


def _listdir(directory: str) -> list[str]:
    try:
        return os.listdir(directory)
    except FileNotFoundError:
        return []


def all_handles() -> list[str]:
    names = [n[:len(PREFIX) + 8] for d in (NETNS_DIR, ETC_NETNS, OWNERS_DIR) for n in _listdir(d)]
    return sorted({n for n in names if HANDLE_RE.match(n)})


def remove_handle(handle: str) -> list[str]:
    """Removes every namespace and file of one path; safe to repeat."""
    # The delaying link first: it holds sockets in the link namespaces.
    link = read_json(link_file(handle, "pid"))
    stop_process(int(link.get("pid") or 0), link.get("start"))
    names = namespaces_of(handle)
    problems = []
    if names:
        # -force: go on past a namespace that someone else already removed.
        err = run_batches([(["ip", "-force", "-batch", "-"], "".join("netns del %s\n" % n for n in names))],
                          check=False)[0]
        if namespaces_of(handle):
            problems.append("namespaces left: %s (%s)" % (", ".join(namespaces_of(handle)), err))
    etc_dir = os.path.join(ETC_NETNS, handle + "-src")
    shutil.rmtree(etc_dir, ignore_errors=True)
    if os.path.exists(etc_dir):
        problems.append("could not remove " + etc_dir)
    if problems:
        raise FixtureError("; ".join(problems))
    # The owner file last, so a path half removed still names its owner.
    for name in sorted((n for n in _listdir(OWNERS_DIR) if n.startswith(handle)), key=lambda n: n == handle):
        try:
            os.unlink(os.path.join(OWNERS_DIR, name))
        except FileNotFoundError:
            pass
    return names


def remove_stale() -> list[str]:
    """Removes paths whose owner was recorded and no longer runs."""
    removed = []
    for handle in all_handles():
        owner = read_json(os.path.join(OWNERS_DIR, handle))
        pid = owner.get("pid") or 0
        if handle not in live and pid > 0 and process_start(pid) != owner.get("start"):
            try:
                remove_handle(handle)
                removed.append(handle)
            except FixtureError:
                pass
    return removed
