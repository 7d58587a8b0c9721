"""python3 -m wineharness prefix | display | run TREE | trace TREE [--raw]
(the prefix for CTest, scripts/run.sh and scripts/trace.sh)"""

import os
import signal
import sys

from . import diagnose, timeline
from .oracle import require_picture
from .prefix import PREFIX, ROOT, Tree, end_leftovers, lock_prefix, make_prefix, run_on_display
from .session import Session, save_png
from .wait import wait_for


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
    """TREE's exe on your DISPLAY if set; otherwise until it is painted, then
    saves build/screenshot.png, judges it, closes it with Alt+F4 and returns
    its exit status, or non-zero if the picture was wrong. Where the run
    fails, Wine's errors from it and the cause they name follow."""
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
            app = s.start(exe)
            painted = False
            try:
                win = s.shown_window(app)
                last = []  # the last grab, if any grab worked

                def attempt():
                    last[:] = [s.grab()]
                    return require_picture(last[0], win, win)
                try:
                    wait_for(attempt, "the picture")
                    wrong, painted = None, True
                except AssertionError as failure:
                    wrong = failure
                if last:
                    path = save_png(last[0], os.path.join(ROOT, "build", "screenshot.png"),
                                    win["window"])
                    print(f"Screenshot saved to {path}")
                if wrong:
                    print(f"the picture is wrong: {wrong}", file=sys.stderr)
                s.key("alt+F4")
                status = s.wait_exit(app)
                print(f"gltriangles.exe exited with status {status}")
            except AssertionError as failure:  # no window, or one that would not close
                print(f"gltriangles.exe: {failure}", file=sys.stderr)
                status, wrong = None, failure
        diagnose.explain(s.log.name, since, arch, status != 0 or wrong is not None, painted)
    return status if not wrong else status or 1


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
            sys.exit(timeline.main(args[0], raw=args[1:] == ["--raw"]))
        else:
            sys.exit(__doc__)
    except KeyboardInterrupt:  # Ctrl+C: everything is ended; the script says so
        sys.exit(130)
    except RuntimeError as failure:  # the harness's own reason, without a traceback
        sys.exit(str(failure))
