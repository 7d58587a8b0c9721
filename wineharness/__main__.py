"""python3 -m wineharness prefix | display | run TREE | trace TREE [--raw]
(the prefix for CTest, scripts/run.sh and scripts/trace.sh)"""

import contextlib
import os
import signal
import sys

from PIL import Image

from . import diagnose, trace
from .prefix import (FAILED, PREFIX, ROOT, WRONG_PICTURE, Tree, end_leftovers, lock_prefix,
                     make_prefix, run_on_display, windows_path)
from .session import Session


def prefix():
    """Makes the prefix, and if stopped halfway (run.sh ends us with SIGTERM
    when its build fails) ends the Wine processes that were making it."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with lock_prefix():
        try:
            make_prefix()
        except BaseException:
            end_leftovers(PREFIX)
            raise


def run(tree):
    """TREE's exe on your DISPLAY if set; otherwise the check program's run
    (check.cpp): it judges the first picture and keeps it, which is saved as
    build/screenshot.png, closes the exe with Alt+F4 and exits with its
    status, or non-zero if the picture was wrong. Where the run fails,
    Wine's errors from it and the cause they name follow."""
    tree = Tree(tree)
    exe, arch = tree.exe, tree.arch
    evidence = os.path.join(ROOT, "build", "run")
    # The lock from writing the log to reading it: another run waits, and
    # neither empties the log that the other is writing.
    if os.environ.get("DISPLAY"):
        with lock_prefix():
            os.makedirs(evidence, exist_ok=True)
            with open(os.path.join(evidence, "wine.log"), "w") as log:
                status = run_on_display(exe, log)
            diagnose.explain(log.name, 0, arch, status != 0)
        print(f"gltriangles.exe exited with status {status}")
        return status
    with lock_prefix():
        with Session(evidence, tree.check) as s:
            since = os.path.getsize(s.log.name)
            seen = os.path.join(evidence, "seen.bmp")
            with contextlib.suppress(FileNotFoundError):  # an earlier run's
                os.remove(seen)
            check = s.start(tree.check, "run", windows_path(exe), windows_path(seen), own_output=True)
            try:
                status = s.wait_exit(check, 120)
            except AssertionError as failure:
                print(f"check run: {failure}", file=sys.stderr)
                status = FAILED
            if os.path.exists(seen):
                shot = os.path.join(ROOT, "build", "screenshot.png")
                Image.open(seen).save(shot)
                print(f"Screenshot saved to {shot}")
        diagnose.explain(s.log.name, since, arch, status != 0,
                         status not in (WRONG_PICTURE, FAILED))
    return 1 if status in (WRONG_PICTURE, FAILED) else status


if __name__ == "__main__":
    command, args = sys.argv[1:2], sys.argv[2:]
    sys.stdout.reconfigure(line_buffering=True)  # in order with stderr, through a pipe too
    try:
        if command == ["prefix"] and not args:
            prefix()
        elif command == ["display"] and not args:
            sys.exit(diagnose.cannot_open_display())
        elif command == ["run"] and len(args) == 1:
            sys.exit(run(args[0]))
        elif command == ["trace"] and args[1:] in ([], ["--raw"]):
            sys.exit(trace.main(args[0], raw=args[1:] == ["--raw"]))
        else:
            sys.exit(__doc__)
    except KeyboardInterrupt:  # Ctrl+C: everything is ended; the script says so
        sys.exit(130)
    except RuntimeError as failure:  # the harness's own reason, without a traceback
        sys.exit(str(failure))
