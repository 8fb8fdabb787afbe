#!/usr/bin/env python3
"""Runs a command and waits until every process it started has exited, also
those that left it: a program the command starts in a session of its own, and
what that program starts in turn (the demo's updater and the restarted demo).

  run-tree.py [--limit SECONDS] COMMAND [ARG...]

Exits with the command's own status once the last of them has gone. With
--limit, or on SIGINT/SIGTERM, whatever still runs is asked to end (SIGTERM),
and killed 5 seconds later; the exit status is then 124 (limit) or 130/143.
"""

import ctypes
import os
import signal
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
GRACE = 5.0


def children(pid):
    """Processes whose parent is pid (orphans of the tree are re-parented here)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read().decode("latin-1")
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 1 and int(fields[1]) == pid:
            found.append(int(entry))
    return found


def main():
    args = sys.argv[1:]
    limit = None
    if len(args) >= 2 and args[0] == "--limit":
        limit = float(args[1])
        args = args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print("run-tree: cannot become a subreaper", file=sys.stderr)
        return 1

    stop = {"why": None, "at": None}

    def on_signal(signum, _frame):
        stop["why"] = 128 + signum

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    first = subprocess.Popen(args)
    status = None
    deadline = time.monotonic() + limit if limit is not None else None
    while True:
        if deadline is not None and stop["why"] is None and time.monotonic() > deadline:
            print(f"run-tree: still running after {limit:g} s: stopping", file=sys.stderr)
            stop["why"] = 124
        if stop["why"] is not None:
            if stop["at"] is None:
                stop["at"] = time.monotonic()
                for pid in children(os.getpid()):
                    os.kill(pid, signal.SIGTERM)
            elif time.monotonic() - stop["at"] > GRACE:
                for pid in children(os.getpid()):
                    os.kill(pid, signal.SIGKILL)
        try:
            pid, wstatus = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break  # the last one has gone
        except InterruptedError:
            continue
        if pid == 0:
            time.sleep(0.05)
            continue
        if pid == first.pid:
            first.returncode = status = os.waitstatus_to_exitcode(wstatus)
            if status < 0:
                status = 128 - status
    if stop["why"] is not None:
        return stop["why"]
    return status if status is not None else 1


if __name__ == "__main__":
    sys.exit(main())
