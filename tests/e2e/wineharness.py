"""Plumbing for driving a Win32 program under Wine on a private X server.

Python 3 standard library only; needs Xvfb, xdotool, ImageMagick's
`import` and Wine. Used by the end-to-end tests and meant for reuse (for
example by a benchmark: put this folder on sys.path and import it):

    from wineharness import Session, wait_for

    with Session(prefix="build/wineprefix",
                 probe="build/win32/tests/e2e/e2e_probe.exe",
                 keep="build/win32/tests/e2e/kept/mine") as s:
        app = s.start("build/win32/gltriangles.exe")  # Popen, + .output()
        win = wait_for(s.window, "the main window")
        shot = s.grab()                  # Shot of the Wine desktop
        shot.rgb(x, y)                   # -> (r, g, b), 0..255
        shot.save_png(path, (x, y, w, h))
        s.click(x, y); s.key("alt+F4")
        s.press(x, y); s.move(x, y); s.release()
        status = s.wait_exit(app)

Session, on entry: takes an exclusive lock on the prefix (PREFIX.lock), so
runs that share it take turns; makes the prefix with scripts/wine-prefix.sh
(virtual desktop) if needed; starts Xvfb on a free display (-displayfd).
On exit, also after a failure: kills every process it started, by pid, then
stops the prefix's wineserver (`wineserver -k`), then Xvfb.

With expose_uninitialised (the default) Xvfb runs without MIT-SHM, so an
OpenGL program's software-rendered buffers live in ordinary process memory,
and Wine runs with MALLOC_PERTURB_, so that memory starts out grey (0xAA)
instead of zero. A buffer's first content is undefined; zeroed shared memory
would show it as black and hide a picture that is never cleared. Pass False
to measure speed: both cost time.

Coordinates are Win32 screen coordinates, as the probe reports them; input
and grabs add the Wine desktop's position on the X screen.

probe(*args) runs the Win32 helper e2e_probe.exe in the same prefix and
returns its "key value" lines as a dict of strings, or None when it says
that what was asked for is not there (exit status 3). window() is
probe("window") with the numbers parsed into tuples of ints.

wait_for(attempt, what, timeout) calls attempt() until it returns without
an AssertionError and returns its result; at the deadline it raises an
AssertionError that names `what` and carries the last failure's message.
"""

import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"


def wait_for(attempt, what, timeout=20.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        try:
            return attempt()
        except AssertionError as failure:
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"gave up after {timeout:.0f} s waiting for {what}: {failure}") from None
        time.sleep(interval)


def numbers(text):
    """"0 -4 0x1f" -> (0, -4, 31); text that is not all numbers stays text."""
    try:
        return tuple(int(n, 0) for n in text.split())
    except ValueError:
        return text


def loader(exe):
    """The Wine loader that becomes EXE's process, so its pid is ours to
    kill: `wine` for PE32; for PE32+ the 64-bit loader itself, as `wine`
    would hand it to start.exe and run it under another pid."""
    with open(exe, "rb") as f:
        head = f.read(1024)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return WINE64 if struct.unpack_from("<H", head, pe + 4)[0] == 0x8664 else "wine"


def windows_path(path):
    """The Z: drive of a default prefix is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Shot:
    """An RGB screen grab; (x, y) are screen coordinates."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def rgb(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def save_png(self, path, box=None):
        x, y, w, h = box or (0, 0, self.width, self.height)
        rows = b"".join(b"\0" + self.data[((y + r) * self.width + x) * 3:
                                          ((y + r) * self.width + x + w) * 3]
                        for r in range(h))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body)))

        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" +
                    chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))
        return path


class Session:
    def __init__(self, prefix, probe, keep, expose_uninitialised=True, xvfb_args=()):
        self.expose_uninitialised = expose_uninitialised
        self.xvfb_args = list(xvfb_args)  # extra Xvfb options, e.g. for the benchmark
        self.prefix = os.path.abspath(prefix)
        self.probe_exe = os.path.abspath(probe)
        self.keep = os.path.abspath(keep)
        self.procs = []
        self.geometry = None  # the Wine desktop's x, y, width, height on the X screen

    def __enter__(self):
        os.makedirs(self.keep, exist_ok=True)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.lock = open(self.prefix + ".lock", "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        # ctest stops a test that overruns with SIGTERM: clean up then too.
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        try:
            subprocess.run([os.path.join(SCRIPTS, "wine-prefix.sh"), self.prefix], check=True)
            self.log = open(os.path.join(self.keep, "wine.log"), "w")
            read_end, write_end = os.pipe()
            no_shm = ["-extension", "MIT-SHM"] if self.expose_uninitialised else []
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", *no_shm, *self.xvfb_args], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
            os.close(write_end)
            with os.fdopen(read_end) as f:
                display = f.readline().strip()
            assert display, "Xvfb did not report a display"
            self.env = dict(os.environ, DISPLAY=":" + display, WINEPREFIX=self.prefix,
                            WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            if self.expose_uninitialised:
                self.env["MALLOC_PERTURB_"] = "85"  # fills new blocks with 0xAA
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        if hasattr(self, "env"):
            for flag in ("-k", "-w"):
                subprocess.run(["wineserver", flag], env=self.env, stderr=subprocess.DEVNULL)
        if hasattr(self, "xvfb"):
            self.xvfb.terminate()
            self.xvfb.wait()
        if hasattr(self, "log"):
            self.log.close()
        self.lock.close()

    # --- processes -------------------------------------------------------
    def start(self, *argv):
        """ARGV... under Wine in the background, tracked by pid. Its stdout
        goes to a file, read with proc.output(): Wine's helper processes
        inherit the handle, so a pipe would never reach its end."""
        out = open(os.path.join(self.keep, f"stdout-{len(self.procs)}.txt"), "w+")
        proc = subprocess.Popen([loader(argv[0]), *argv], env=self.env, stdout=out,
                                stderr=self.log)
        proc.output = lambda: (out.seek(0), out.read())[1]
        self.procs.append(proc)
        return proc

    def wait_exit(self, proc, timeout=20.0):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the process (pid {proc.pid}) was still running "
                                 f"{timeout:.0f} s later") from None

    def probe(self, *args):
        with tempfile.TemporaryFile("w+") as out:
            status = subprocess.run([loader(self.probe_exe), self.probe_exe, *args],
                                    env=self.env, stdout=out,
                                    stderr=self.log, timeout=60).returncode
            out.seek(0)
            lines = out.read().splitlines()
        if status == 3:
            return None
        assert status == 0, f"probe {args} failed with status {status}"
        return dict((line.split(" ", 1) + [""])[:2] for line in lines)

    def window(self):
        """The main window as the probe sees it; asserts that there is one."""
        info = self.probe("window")
        assert info is not None, "no window of class MinimalApp with the expected title"
        return {key: numbers(value) for key, value in info.items()}

    # --- screen and input --------------------------------------------------
    def desktop(self):
        """Where the Wine desktop window sits on the X screen: x, y, w, h."""
        if self.geometry is None:
            out = subprocess.run(["xdotool", "search", "--name", "Wine desktop$",
                                  "getwindowgeometry", "--shell"], env=self.env,
                                 capture_output=True, text=True).stdout
            geometry = dict(re.findall(r"(\w+)=(\d+)", out))
            assert "X" in geometry, "no Wine desktop window on the X screen"
            self.geometry = tuple(int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        return self.geometry

    def grab(self):
        """The Wine desktop as the X server shows it (without the pointer)."""
        x, y, w, h = self.desktop()
        data = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}",
                               "-depth", "8", "rgb:-"], env=self.env,
                              capture_output=True, check=True).stdout
        assert len(data) == w * h * 3, f"screen grab gave {len(data)} bytes for {w}x{h}"
        return Shot(w, h, data)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def move(self, x, y):
        ox, oy = self.desktop()[:2]
        self.xdotool("mousemove", "--sync", ox + x, oy + y)

    def click(self, x, y):
        self.move(x, y)
        self.xdotool("click", 1)

    def press(self, x, y):
        self.move(x, y)
        self.xdotool("mousedown", 1)

    def release(self):
        self.xdotool("mouseup", 1)

    def key(self, name):
        self.xdotool("key", name)
