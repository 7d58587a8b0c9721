"""Why a run cannot start or went wrong, in words a user can act on: the
user's display that cannot be opened, and what Wine said on its error
channel, with the cause it names."""

import os
import re
import sys

# Wine's err: lines (after any +pid/+tid prefixes), the loader's own "wine:"
# lines, and Mesa's, which Wine passes through from libGL.
ERROR = re.compile(r"^(?:[0-9a-f]{4,}:)*err:|^wine:|^libGL error:|^MESA-LOADER:")
NO_OPENGL = re.compile(r"couldn't initialize OpenGL|failed to load driver")
MESA = {"win32": "libgl1-mesa-dri:i386 libglx-mesa0:i386", "win64": "libgl1-mesa-dri libglx-mesa0"}
SHOWN = 15  # error lines at most, the last ones: the first failure repeats


def cannot_open_display():
    """None if DISPLAY names a display that opens, else one line saying why
    not and what to do."""
    from Xlib import display, error  # only runs on the user's display need it
    name = os.environ.get("DISPLAY", "")
    try:
        display.Display(name).close()
        return None
    except (error.DisplayError, OSError) as failure:
        return (f"cannot open the display DISPLAY={name} ({failure}): unset DISPLAY to run "
                f"headless on a private Xvfb, or point it at a running X server")


def errors(path, since=0):
    """Wine's error lines in the log at PATH from byte SINCE on, each once."""
    with open(path, "rb") as f:
        f.seek(since)
        lines = f.read().decode(errors="replace").splitlines()
    return list(dict.fromkeys(line for line in lines if ERROR.search(line)))


def cause(lines, arch):
    """One line naming what the error LINES say went wrong and what to do,
    or None where they name nothing that we know."""
    if any(NO_OPENGL.search(line) for line in lines):
        where = os.environ.get("LIBGL_DRIVERS_PATH")
        return (f"Wine could not initialise OpenGL, so the window gets no picture: install "
                f"Mesa's {'32' if arch == 'win32' else '64'}-bit drivers ({MESA[arch]})"
                + (f", or check LIBGL_DRIVERS_PATH={where}" if where else
                   ", or check that they load (LIBGL_DEBUG=verbose)"))
    return None


def explain(path, since, arch, failed):
    """Prints to stderr Wine's error lines of the run logged in PATH from
    byte SINCE on, if the run FAILED, and the cause they name whether or
    not it did. Returns True if they name one."""
    lines = errors(path, since)
    why = cause(lines, arch)
    if (failed or why) and lines:
        print(f"Wine's errors in this run ({path}):", file=sys.stderr)
        for line in lines[-SHOWN:]:
            print(f"  {line}", file=sys.stderr)
    if why:
        print(why, file=sys.stderr)
    return why is not None
