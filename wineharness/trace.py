"""scripts/trace.sh: the exe's own calls, from Wine's relay log, under its messages."""

import os
import subprocess
import sys

from . import diagnose
from .prefix import FAILED, ROOT, WINE64, Tree, lock_prefix, run_on_display, windows_path
from .relaylog import DEBUG, fold, image_of, read_log, timeline
from .session import Session


def relay_only_the_exe(exe, env):  # the four DLLs, and only calls that EXE makes
    for name, value in (("RelayInclude", "user32.*;gdi32.*;opengl32.*;glu32.*;"
                                         "ntdll.NtdllDefWindowProc_A"),
                        ("RelayFromInclude", os.path.basename(exe))):
        subprocess.run([WINE64, "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", name, "/d",
                        value, "/f"], env=env, check=True, stdout=subprocess.DEVNULL)


def drive_story(session, exe, log):
    """The check program plays its story (check.cpp) in SESSION, with Wine's
    log to LOG and a wrong picture to the session's folder; returns the
    exe's exit status."""
    relay_only_the_exe(exe, session.env)
    check = session.start(session.check_exe, "story", windows_path(exe), log=log, own_output=True,
                          cwd=session.evidence_dir, WINEDEBUG=DEBUG)
    status = session.wait_exit(check, 300)
    if status == FAILED:
        raise AssertionError("the story stopped where the check program's line says")
    return status


def main(tree, raw=False):
    """scripts/trace.sh: the story headless, or on your DISPLAY driven by you.
    Where the run fails, Wine's errors from it and the cause they name follow,
    and Wine's whole log is kept."""
    tree = Tree(tree)
    exe, arch = tree.exe, tree.arch
    path = os.path.join(ROOT, "build", f"trace-{arch}.log")
    with lock_prefix():  # from writing the log to removing it: another trace waits
        with open(path, "w") as log:
            if os.environ.get("DISPLAY"):
                status = run_on_display(exe, log, lambda env: relay_only_the_exe(exe, env),
                                        WINEDEBUG=DEBUG)
            else:
                with Session(os.path.join(ROOT, "build", "trace"), tree.check) as session:
                    try:
                        status = drive_story(session, exe, log)
                    except AssertionError as failure:
                        print(f"gltriangles.exe: {failure}", file=sys.stderr)
                        status = None
        if status != 0:
            diagnose.explain(path, 0, arch, True)
            print(f"Wine's whole log: {path}")
            return 1 if status is None else status
        lines = read_log(path, exe)
        steps = fold(timeline(lines, image_of(exe, lines)))
        for number, step in enumerate(steps, 1):
            print(f"{number:4}  {'  ' * step.depth}{step.text}")
        print(f"{len(steps) + 1:4}  exit status {status}")
        if raw:
            print(f"Wine's whole log: {path}")
        else:
            os.remove(path)
    return status
