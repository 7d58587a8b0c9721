"""CMake's emulator for the cross trees (CMAKE_CROSSCOMPILING_EMULATOR, by
way of scripts/wine-pe.sh): runs one PE with its arguments in the project's
prefix, on a private Xvfb with Wine's virtual desktop, and exits with the
PE's status. Wine's log goes to wine.log in the working directory, where
each test keeps what it leaves."""

import os
import subprocess
import sys

from . import diagnose
from .prefix import host32, loader, pe_header, windows_path
from .session import Session

SKIP = 77  # the tests' SKIP_RETURN_CODE


def main(pe, *args):
    if pe_header(pe)[0] == "win32" and host32() == "none":
        print("skipped: this host cannot run 32-bit programs", file=sys.stderr)
        return SKIP
    # A path of ours, as the PE sees it.
    argv = [windows_path(a) if a.startswith("/") and os.path.exists(a) else a for a in args]
    with Session(os.getcwd(), None) as s:
        for _ in range(2):
            since = os.path.getsize(s.log.name)
            status = subprocess.run([loader(pe), pe, *argv], env=s.env, stderr=s.log).returncode
            # Now and then Wine's loader finds the shared user data page taken
            # and exits 1 before the PE runs: that start alone is tried again.
            if status != 1 or not any("failed to map the shared user data" in line
                                      for line in diagnose.errors(s.log.name, since)):
                return status
    return status


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]) if sys.argv[1:] else __doc__)
