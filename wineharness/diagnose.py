"""Why a run cannot start or went wrong, in words a user can act on: the
user's display that cannot be opened, and what Wine said on its error
channel, with the cause it names."""

import os
import re
import struct
import sys

# Wine's err: lines (after any +pid/+tid prefixes), the loader's own "wine:"
# lines, and Mesa's, which Wine passes through from libGL.
ERROR = re.compile(r"^(?:[0-9a-f]{4,}:)*err:|^wine:|^libGL error:|^MESA-LOADER:")
THREAD = re.compile(r"^(?:[0-9a-f]{4,}:)+")  # the +pid/+tid prefixes
# OpenGL could not start: Wine says so itself. Mesa's line that a driver
# failed says so only where the picture never came too: on a display whose
# hardware driver fails, Mesa says it and falls back to one that draws.
NO_OPENGL = re.compile(r"^(?:[0-9a-f]{4,}:)*err:wgl:.*couldn't initialize OpenGL")
NO_DRIVER = re.compile(r"failed to load driver")
MESA = {"win32": "libgl1-mesa-dri:i386 libglx-mesa0:i386", "win64": "libgl1-mesa-dri libglx-mesa0"}
# Wine's loader, when it finds the shared user data page taken (now and then).
LOADER_GAVE_UP = "failed to map the shared user data"
SHOWN = 15  # error lines at most, the first ones: the root cause comes first


def cannot_open_display():
    """None if DISPLAY names a display that opens, else one line saying why
    not and what to do."""
    from Xlib import display, error  # only runs on the user's display need it
    name = os.environ.get("DISPLAY", "")
    try:
        display.Display(name).close()
        return None
    # A listener that is no X server: python-xlib finds the connection closed,
    # or reads its answer short (struct.error).
    except (error.DisplayError, error.ConnectionClosedError, OSError, struct.error) as failure:
        why = "no X server's answer" if isinstance(failure, struct.error) else failure
        return (f"cannot open the display DISPLAY={name} ({why}): unset DISPLAY to run "
                f"headless on a private Xvfb, or point it at a running X server")


def errors(path, since=0):
    """Wine's error lines in the log at PATH from byte SINCE on, in order,
    each message once: from two threads it differs only in its prefix."""
    with open(path, "rb") as f:
        f.seek(since)
        lines = f.read().decode(errors="replace").splitlines()
    first = {}
    for line in lines:
        if ERROR.search(line):
            first.setdefault(THREAD.sub("", line), line)
    return list(first.values())


def cause(lines, arch, painted=True):
    """One line naming what the error LINES say went wrong and what to do,
    or None where they name nothing that we know. PAINTED false: the
    picture never came."""
    if any(NO_OPENGL.search(line) or not painted and NO_DRIVER.search(line) for line in lines):
        where = os.environ.get("LIBGL_DRIVERS_PATH")
        return (f"Wine could not initialise OpenGL, so the window gets no picture: install "
                f"Mesa's {'32' if arch == 'win32' else '64'}-bit drivers ({MESA[arch]})"
                + (f", or check LIBGL_DRIVERS_PATH={where}" if where else
                   ", or check that they load (LIBGL_DEBUG=verbose)"))
    return None


def explain(path, since, arch, failed, painted=True):
    """If the run logged in PATH from byte SINCE on FAILED, prints to stderr
    Wine's error lines from it and the cause they name, if any. A run that
    worked shows nothing: Mesa's fallback, for one, is no fault."""
    if not failed:
        return
    lines = errors(path, since)
    why = cause(lines, arch, painted)
    if lines:
        print(f"Wine's errors in this run ({path}):", file=sys.stderr)
        for line in lines[:SHOWN]:
            print(f"  {line}", file=sys.stderr)
        if len(lines) > SHOWN:
            print(f"  ... and {len(lines) - SHOWN} more", file=sys.stderr)
    if why:
        print(why, file=sys.stderr)
