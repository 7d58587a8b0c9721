"""CMake's emulator for the cross trees (CMAKE_CROSSCOMPILING_EMULATOR, by
way of scripts/wine-pe.sh): runs one PE with its arguments in the project's
prefix, on a private Xvfb with Wine's virtual desktop, and exits with the
PE's status. Wine's log goes to wine.log in the working directory, where
each test keeps what it leaves.

    emulate PE ARGS...   in the shared session if one runs, else in its own
    emulate start        starts the shared session for the tests that follow
    emulate stop         ends it

A session of its own costs about 1.2 s (Xvfb, wineserver, Wine's desktop,
and their ending), as much as the case it would run; so a suite starts one
and shares it, as ctest fixtures (tests/e2e/CMakeLists.txt)."""

import contextlib
import json
import os
import signal
import subprocess
import sys
import time

from . import diagnose
from .prefix import PREFIX, arch, host32, loader, windows_path
from .session import Session

SKIP = 77  # the tests' SKIP_RETURN_CODE
SHARED = PREFIX + ".session"  # the shared session's server pid and Wine environment


def alive(pid):
    """Whether PID runs: an ended orphan that init has yet to reap does not."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def shared():
    """The shared session's state, or None when none runs."""
    try:
        with open(SHARED) as f:
            state = json.load(f)
    except (OSError, ValueError):
        return None
    return state if alive(state["pid"]) else None


def run(pe, *args):
    if arch(pe) == "win32" and host32() == "none":
        print("skipped: this host cannot run 32-bit programs", file=sys.stderr)
        return SKIP
    # A path of ours, as the PE sees it.
    argv = [loader(pe), pe, *(windows_path(a) if a.startswith("/") and os.path.exists(a)
                              else a for a in args)]
    state = shared()
    if state:
        with open("wine.log", "w") as log:
            return start_once_more(argv, dict(os.environ, **state["env"]), log)
    with Session(os.getcwd(), None) as s:
        return start_once_more(argv, s.env, s.log)


def start_once_more(argv, env, log):
    """ARGV's status. Now and then Wine's loader finds the shared user data
    page taken and exits 1 before the PE runs: a start that exited 1 without
    a word of its own on stdout, with that line in the log, is made once
    more, and we say so. (The PE's children share the log, so its lines
    alone cannot tell whose start it was.)"""
    for start in (1, 2):
        since = os.path.getsize(log.name)
        # Passed on as it comes, so that a case that ctest ends still shows its lines.
        with subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=log, text=True,
                              errors="replace") as pe:
            said = False
            for line in pe.stdout:
                print(line, end="", flush=True)
                said = True
        taken = [line for line in diagnose.errors(log.name, since)
                 if diagnose.LOADER_GAVE_UP in line]
        if pe.returncode != 1 or said or not taken or start == 2:
            return pe.returncode
        print(f"{os.path.basename(argv[1])}: starting it once more, as Wine's loader gave up "
              f"on it: {taken[0]}", file=sys.stderr)


def serve(watched):
    """The shared session, until stopped or the process WATCHED (ctest) is gone."""
    with Session(os.getcwd(), None) as s:
        try:
            with open(SHARED + ".new", "w") as f:
                json.dump({"pid": os.getpid(),
                           "env": {k: v for k, v in s.env.items() if os.environ.get(k) != v}}, f)
            os.replace(SHARED + ".new", SHARED)
            while alive(int(watched)):
                time.sleep(0.2)
        finally:
            os.remove(SHARED)


def start():
    # Its output not to ctest's pipe, which would wait for it to close.
    with open("serve.log", "w") as log:
        server = subprocess.Popen([sys.executable, "-B", "-m", "wineharness.emulate", "serve",
                                   str(os.getppid())], start_new_session=True,
                                  stdout=log, stderr=log)
    deadline = time.monotonic() + 60
    while not shared():
        if server.poll() is not None or time.monotonic() > deadline:
            end(server.pid)
            return f"the shared Wine session did not start; see serve.log and wine.log in {os.getcwd()}"
        time.sleep(0.05)
    return 0


def end(pid):
    """Ends the session server PID as Ctrl+C would (it then ends its Wine and
    Xvfb); True once it has gone, within 30 s."""
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 30
    while alive(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    return not alive(pid)


def stop():
    state = shared()
    if state and not end(state["pid"]):
        return (f"the shared Wine session (pid {state['pid']}) was still running 30 s after "
                f"SIGTERM: end it (kill {state['pid']}), then run again")
    return 0


if __name__ == "__main__":
    command, args = sys.argv[1:2], sys.argv[2:]
    if command == ["start"] and not args:
        sys.exit(start())
    elif command == ["stop"] and not args:
        sys.exit(stop())
    elif command == ["serve"] and len(args) == 1:
        sys.exit(serve(args[0]))
    elif command:
        sys.exit(run(*command, *args))
    sys.exit(__doc__)
