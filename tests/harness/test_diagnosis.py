"""What the harness says about a run from Wine's log (wineharness/diagnose.py),
fed with excerpts of real logs: no Wine, no X server."""

import contextlib
import io
import os
import socket
import threading
from contextlib import redirect_stderr

from wineharness import diagnose

# Seen on Debian 12 with Wine 8 and Mesa 22, unless said otherwise.
# Mesa's first driver fails and it falls back to another (common in VMs).
FALLBACK = ["libGL error: MESA-LOADER: failed to open iris: /usr/lib/i386-linux-gnu/dri/"
            "iris_dri.so: cannot open shared object file: No such file or directory "
            "(search paths /usr/lib/i386-linux-gnu/dri, suffix _dri)",
            "libGL error: failed to load driver: iris"]
# GALLIUM_DRIVER=nonexistent: no driver loads, and Wine says OpenGL did not start.
NO_GL = ["libGL error: glx: failed to create drisw screen",
         "libGL error: failed to load driver: swrast",
         "0024:err:wgl:X11DRV_WineGL_InitOpenglInfo  couldn't initialize OpenGL, expect problems",
         "0024:err:wgl:set_pixel_format Invalid format 0"]
# LIBGL_DRIVERS_PATH=/nonexistent on an X server with indirect GLX: Wine
# starts OpenGL, and the window stays white.
INDIRECT = ["libGL error: MESA-LOADER: failed to open swrast: /nonexistent/swrast_dri.so: cannot "
            "open shared object file: No such file or directory (search paths /nonexistent, "
            "suffix _dri)",
            "libGL error: failed to load driver: swrast",
            "0024:err:winediag:X11DRV_WineGL_InitOpenglInfo Direct rendering is disabled, most "
            "likely your 32-bit OpenGL drivers haven't been installed correctly (using GL "
            "renderer \"\", version \"\").",
            "0024:err:wgl:set_pixel_format Invalid format 0"]
LOADER = ["wine: could not load kernel32.dll, status c0000135"]
NO_GLU = ["0024:err:module:import_dll Library GLU32.dll (which is needed by "
          "L\"Z:\\\\work\\\\gltriangles.exe\") not found",
          "0024:err:module:LdrInitializeThunk Importing dlls for "
          "L\"Z:\\\\work\\\\gltriangles.exe\" failed, status c0000135"]
NO_DISPLAY = ["0024:err:winediag:nodrv_CreateWindow Application tried to create a window, but "
              "no driver could be loaded.",
              "0024:err:winediag:nodrv_CreateWindow Make sure that your X server is running and "
              "that $DISPLAY is set correctly."]
# What Wine's debug channels and the exe print besides, on a run that works.
NOISE = ["0024:fixme:wgl:X11DRV_wglGetProcAddress unsupported extension",
         "trace:loaddll:build_module Loaded L\"C:\\\\windows\\\\system32\\\\opengl32.dll\""]
# Another launch in the same log, before this run's first byte.
EARLIER = [*NO_GL, *LOADER, "0024:err:module:earlier launch"]

GL32 = ("Wine could not initialise OpenGL, so the window gets no picture: install Mesa's 32-bit "
        "drivers (libgl1-mesa-dri:i386 libglx-mesa0:i386), or check that they load "
        "(LIBGL_DEBUG=verbose)")
MANY = [f"{thread}:err:d3d:wined3d_check_gl_call >>>>>>> GL_INVALID_ENUM ({n}) from glEnable"
        for n in range(1, 21) for thread in ("0024", "0030")]

# What happened: Wine's log of the run, whether it failed (exit status or
# picture) and whether the picture came -> Wine's lines shown, cause named.
EXPLAINED = [
    ("a plain run", [], False, True, [], None),
    ("a plain run, Wine's other channels on", NOISE, False, True, [], None),
    ("Mesa's fallback on a run that drew", [*NOISE, *FALLBACK], False, True, [], None),
    ("Mesa's fallback on your display, the exe ending 1 for its own reason",
     [*FALLBACK, *NO_GLU], True, True, [*FALLBACK, *NO_GLU], None),
    ("Mesa's fallback, a window that never painted", FALLBACK, True, False, FALLBACK, GL32),
    ("Wine could not start OpenGL, no window", NO_GL, True, False, NO_GL, GL32),
    ("Wine could not start OpenGL, on your display", NO_GL, True, True, NO_GL, GL32),
    ("Wine's OpenGL alone, on your display", NO_GL[2:], True, True, NO_GL[2:], GL32),
    ("Mesa's lines alone, on your display", NO_GL[:2], True, True, NO_GL[:2], None),
    ("Mesa could not load a driver, the window stayed white", INDIRECT, True, False, INDIRECT,
     GL32),
    ("the same, on your display, closed with status 0", INDIRECT, False, True, [], None),
    ("the same, on your display, exit 1", INDIRECT, True, True, INDIRECT, None),
    ("the loader gave up", LOADER, True, False, LOADER, None),
    ("a DLL that is not there", NO_GLU, True, False, NO_GLU, None),
    ("no display driver", NO_DISPLAY, True, False, NO_DISPLAY, None),
    ("the same lines from two threads, and again",
     [*NO_DISPLAY, *(line.replace("0024:", "0030:") for line in NO_DISPLAY), *NO_DISPLAY,
      *NO_GL[2:], NO_GL[2].replace("0024:", "0028:0030:")],
     True, False, [*NO_DISPLAY, *NO_GL[2:]], GL32),
    ("more lines than are shown: the first ones", MANY, True, True,
     [*MANY[:2 * diagnose.SHOWN:2], f"... and {20 - diagnose.SHOWN} more"], None),
]


def explained(tmp_path, log, failed, painted, arch="win32"):
    """What explain() prints for a run whose Wine log is LOG, after another
    launch's lines: Wine's lines as shown, and the cause."""
    path = tmp_path / "wine.log"
    earlier = "".join(f"{line}\n" for line in EARLIER)
    path.write_text(earlier + "".join(f"{line}\n" for line in log))
    out = io.StringIO()
    with redirect_stderr(out):
        diagnose.explain(str(path), len(earlier), arch, failed, painted)
    printed = out.getvalue().splitlines()
    heading = f"Wine's errors in this run ({path}):"
    shown = [line[2:] for line in printed[1:] if line.startswith("  ")]
    assert not shown or printed[0] == heading, printed
    return shown, next((line for line in printed if not line.startswith(("  ", heading))), None)


def check(rows, got):
    """Each row (what, *given, expected) against got(*given); every row that
    differs is reported, with what it is, what was expected and what came."""
    wrong = [f"row {i} ({what}):\n  expected {expected!r}\n  got      {result!r}"
             for i, (what, *given, expected) in enumerate(rows)
             if (result := got(*given)) != expected]
    assert not wrong, "\n".join(wrong)


def test_explain(tmp_path, monkeypatch):
    monkeypatch.delenv("LIBGL_DRIVERS_PATH", raising=False)
    rows = [(what, log, failed, painted, (shown, why))
            for what, log, failed, painted, shown, why in EXPLAINED]
    check(rows, lambda *given: explained(tmp_path, *given))


def test_cause_wording(tmp_path, monkeypatch):
    """The packages for the exe's architecture, and the driver path if set."""
    def cause(arch, where):
        if where:
            monkeypatch.setenv("LIBGL_DRIVERS_PATH", where)
        else:
            monkeypatch.delenv("LIBGL_DRIVERS_PATH", raising=False)
        return explained(tmp_path, NO_GL, True, False, arch)[1]
    check([
        ("win32", "win32", None, GL32),
        ("win64", "win64", None,
         "Wine could not initialise OpenGL, so the window gets no picture: install Mesa's 64-bit "
         "drivers (libgl1-mesa-dri libglx-mesa0), or check that they load (LIBGL_DEBUG=verbose)"),
        ("win32, LIBGL_DRIVERS_PATH set", "win32", "/nonexistent",
         "Wine could not initialise OpenGL, so the window gets no picture: install Mesa's 32-bit "
         "drivers (libgl1-mesa-dri:i386 libglx-mesa0:i386), or check "
         "LIBGL_DRIVERS_PATH=/nonexistent"),
        ("win64, LIBGL_DRIVERS_PATH set", "win64", "/opt/mesa/dri",
         "Wine could not initialise OpenGL, so the window gets no picture: install Mesa's 64-bit "
         "drivers (libgl1-mesa-dri libglx-mesa0), or check LIBGL_DRIVERS_PATH=/opt/mesa/dri"),
    ], cause)


def listener(name, answer):
    """A listener on the abstract Unix socket of display NAME (no file, no
    network) that answers every connection with ANSWER and hangs up."""
    server = socket.socket(socket.AF_UNIX)
    server.bind(f"\0/tmp/.X11-unix/X{name}")
    server.listen()

    def serve():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:  # the test has closed it
                return
            with conn, contextlib.suppress(OSError):  # a client that hangs up first
                conn.recv(4096)
                conn.sendall(answer)
    threading.Thread(target=serve, daemon=True).start()
    return server


def test_display_that_is_no_x_server(monkeypatch):
    """One line naming the display, whatever answers there, instead of a
    traceback. The numbers are this process's, so that runs side by side
    do not meet."""
    first = 100000 + os.getpid() % 100000 * 10
    answers = [("nothing there", None),
               ("a listener that hangs up", b""),
               ("an HTTP server", b"HTTP/1.1 400 Bad Request\r\n\r\n"),
               ("a refusal that is not X's", b"\0" * 8),
               ("success, then junk", b"\1\0\x0b\0\0\0\x02\0" + b"\xff" * 8)]
    servers = [listener(first + i, answer) for i, (_, answer) in enumerate(answers)
               if answer is not None]

    def why(number):
        monkeypatch.setenv("DISPLAY", f"unix:{number}")
        try:
            said = diagnose.cannot_open_display()
        except Exception as failure:
            return f"raised {failure!r}"
        return said.startswith(f"cannot open the display DISPLAY=unix:{number} (") and \
            said.endswith("unset DISPLAY to run headless on a private Xvfb, or point it at a "
                          "running X server") and "\n" not in said or said
    try:
        check([(what, first + i, True) for i, (what, _) in enumerate(answers)], why)
    finally:
        for server in servers:
            server.close()
