"""python3 -m wineharness prefix | run TREE | trace TREE [--raw]
(the prefix for CTest, scripts/run.sh and scripts/trace.sh)"""

import os
import sys

from . import timeline
from .oracle import require_picture
from .prefix import ROOT, lock_prefix, make_prefix, run_on_display
from .session import Session, probe_in, save_png
from .wait import wait_for


def run(tree):
    """TREE's exe on your DISPLAY if set; otherwise until it is painted, then
    saves build/screenshot.png, judges it, closes it with Alt+F4 and returns
    its exit status, or non-zero if the picture was wrong."""
    exe = os.path.join(tree, "gltriangles.exe")
    if os.environ.get("DISPLAY"):
        return run_on_display(exe)
    with Session(os.path.join(ROOT, "build", "run"), probe_in(tree)) as s:
        app = s.start(exe)
        win = s.shown_window(app)
        last = []  # the last grab, if any grab worked

        def attempt():
            last[:] = [s.grab()]
            return require_picture(last[0], win, win)
        try:
            wait_for(attempt, "the picture")
            wrong = None
        except AssertionError as failure:
            wrong = failure
        if last:
            path = save_png(last[0], os.path.join(ROOT, "build", "screenshot.png"), win["window"])
            print(f"Screenshot saved to {path}")
        if wrong:
            print(f"the picture is wrong: {wrong}", file=sys.stderr)
        s.key("alt+F4")
        status = s.wait_exit(app)
    print(f"gltriangles.exe exited with status {status}")
    return status if not wrong else status or 1


if __name__ == "__main__":
    command, args = sys.argv[1:2], sys.argv[2:]
    if command == ["prefix"] and not args:
        with lock_prefix():
            make_prefix()
    elif command == ["run"] and len(args) == 1:
        sys.exit(run(args[0]))
    elif command == ["trace"] and args[1:] in ([], ["--raw"]):
        sys.exit(timeline.main(args[0], raw=args[1:] == ["--raw"]))
    else:
        sys.exit(__doc__)
