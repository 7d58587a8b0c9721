"""The one place that sets up Wine (prefix, loader, environment) and drives
a program on a private Xvfb, for the e2e suite, run.sh, trace.sh and the
bench; python3-xlib drives X and Pillow holds the pixels.

A Session locks the prefix, first ends what a killed run left behind (the
prefix's wineserver and its processes, our Xvfb), makes the prefix if it is
not complete, starts Xvfb, and on exit ends everything it started. Every
64-bit run uses the 64-bit loader, and queries go through the 64-bit probe:
under emulation each 32-bit process takes a minute to start, and waits are
scaled by `slowness`. With poison (the default) Xvfb runs without MIT-SHM
and Wine with MALLOC_PERTURB_, so never-written GL memory shows as grey.

    wineharness.py prefix               make the prefix (a CTest fixture)
    wineharness.py run EXE PROBE64      run.sh: run, judge, close, exit status
"""

import contextlib
import fcntl
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from PIL import Image
from oracle import NotYet
from Xlib import X, XK, display as xdisplay
from Xlib.ext import xtest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
PREFIX = os.path.join(ROOT, "build", "wineprefix")
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine" if os.path.exists("/usr/lib/wine/wine") else "wine"
# Debian puts wineserver on PATH only with the 32-bit package.
SERVER = "/usr/lib/wine/wineserver" if os.path.exists("/usr/lib/wine/wineserver") else "wineserver"
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}  # no Mono, no Gecko
READY = ".gltriangles-ready"  # written last: a prefix without it is half-made


def wait_for(attempt, what, timeout=20.0, interval=0.05):
    """Calls attempt() until it returns without NotYet and returns its
    result; at the deadline fails with the last NotYet's message."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return attempt()
        except NotYet as failure:
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"gave up after {timeout:.0f} s waiting for {what}: {failure}") from None
        time.sleep(interval)


def host32():
    """native, emulated or none, as scripts/host32.sh answers (or was forced)."""
    if not os.environ.get("GLTRIANGLES_HOST32"):
        os.environ["GLTRIANGLES_HOST32"] = subprocess.run(
            ["sh", "-c", f". '{ROOT}/scripts/host32.sh'; host32_probe"],
            capture_output=True, text=True, check=True).stdout.strip()
    return os.environ["GLTRIANGLES_HOST32"]


def arch_of(exe):
    with open(exe, "rb") as f:
        head = f.read(1024)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return "win64" if struct.unpack_from("<H", head, pe + 4)[0] == 0x8664 else "win32"


def loader(exe):
    """The loader that becomes EXE's own process, so its pid is ours."""
    return WINE64 if arch_of(exe) == "win64" else WINE32


def wine_env(prefix=PREFIX, **extra):
    return dict(os.environ, WINEPREFIX=prefix, **WINE_ENV, **extra)


def windows_path(path):
    """The Z: drive of a default prefix is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def lock_prefix(prefix=PREFIX):
    """An exclusive lock on the prefix, held while the returned file is open,
    so that runs that share the prefix take turns."""
    lock = open(prefix + ".lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    return lock


def stop_server(prefix):
    """Ends the prefix's wineserver and everything on it, and waits for it."""
    for flag in ("-k", "-w"):
        subprocess.run([SERVER, flag], env=wine_env(prefix), stderr=subprocess.DEVNULL)


def end_leftovers(prefix):
    """Ends what a run killed with SIGKILL left: the prefix's wineserver with
    every Wine process on it, and the Xvfb whose pid it noted."""
    stop_server(prefix)
    # A Wine process whose server went away outright is out of its reach.
    # Only ours: the same path in another root (a chroot) is another prefix.
    root = os.stat("/")
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f, open(f"/proc/{pid}/environ", "rb") as env:
                name, theirs = f.read().strip(), os.stat(f"/proc/{pid}/root")
                if (name.endswith(".exe") or name.startswith("wine")) and \
                        (theirs.st_dev, theirs.st_ino) == (root.st_dev, root.st_ino) and \
                        f"WINEPREFIX={prefix}\0".encode() in env.read():
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass
    try:
        with open(prefix + ".xvfb") as f:
            pid = int(f.read())
        with open(f"/proc/{pid}/comm") as f:
            if f.read().strip() == "Xvfb":
                os.kill(pid, signal.SIGKILL)
    except (OSError, ValueError):
        pass


def make_prefix(prefix=PREFIX, log=subprocess.DEVNULL):
    """Makes the prefix once, in Wine's virtual desktop, so Wine draws real
    frames and caption buttons. Where 32-bit programs can run, the prefix
    gets its 32-bit half too; one made without it is made again then."""
    kind = "wow64" if host32() != "none" and os.path.exists(WINE32) else "win64"
    marker = os.path.join(prefix, READY)
    if os.path.exists(marker):
        with open(marker) as f:
            if f.read() in (kind, "wow64"):
                return
    end_leftovers(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(prefix)
    started = time.monotonic()
    print(f"making the Wine prefix {prefix} ({kind})...", file=sys.stderr, flush=True)
    subprocess.run([WINE64, "wineboot", "-i"], env=env, stdout=log, stderr=log, check=True)
    for key, name, value in (("Explorer", "Desktop", "Default"),
                             ("Explorer\\Desktops", "Default", "800x600")):
        subprocess.run([WINE64, "reg", "add", "HKCU\\Software\\Wine\\" + key, "/v", name,
                        "/d", value, "/f"], env=env, stdout=log, stderr=log, check=True)
    # This Wine does not pick up its own data directory's fonts: without
    # Marlett the caption buttons show letters.
    shutil.copy("/usr/share/wine/fonts/marlett.ttf",
                os.path.join(prefix, "drive_c", "windows", "Fonts"))
    subprocess.run([SERVER, "-w"], env=env, check=True)  # a live server keeps the old mode
    with open(marker, "w") as f:
        f.write(kind)
    print(f"made it in {time.monotonic() - started:.0f} s", file=sys.stderr)


def save_png(image, path, box=None):
    """Saves IMAGE, or its part BOX (x, y, w, h), as a PNG file at PATH."""
    x, y, w, h = box or (0, 0, *image.size)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    image.crop((x, y, x + w, y + h)).save(path)
    return path


class Session:
    def __init__(self, arch, keep, probe64, prefix=PREFIX, poison=True, xvfb_args=()):
        self.arch, self.keep, self.probe64 = arch, os.path.abspath(keep), probe64
        self.prefix, self.poison, self.xvfb_args = prefix, poison, list(xvfb_args)
        self.slowness = 6 if arch == "win32" and host32() == "emulated" else 1
        self.procs, self.geometry = [], None

    def __enter__(self):
        os.makedirs(self.keep, exist_ok=True)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.lock = lock_prefix(self.prefix)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # clean up then too
        try:
            end_leftovers(self.prefix)
            self.log = open(os.path.join(self.keep, "wine.log"), "a")
            make_prefix(self.prefix, self.log)
            read_end, write_end = os.pipe()
            no_shm = ["-extension", "MIT-SHM"] if self.poison else []
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", *no_shm, *self.xvfb_args],
                pass_fds=(write_end,), stderr=subprocess.DEVNULL)
            os.close(write_end)
            with open(self.prefix + ".xvfb", "w") as f:
                f.write(str(self.xvfb.pid))
            with os.fdopen(read_end) as f:
                display = ":" + f.readline().strip()
            if display == ":":
                raise RuntimeError("Xvfb did not report a display")
            self.env = wine_env(self.prefix, DISPLAY=display)
            if self.poison:
                self.env["MALLOC_PERTURB_"] = "85"  # new blocks start as 0xAA
            self.x = xdisplay.Display(display)
            self.serve()
        except BaseException:
            self.__exit__()
            raise
        return self

    def end_case(self):
        """Ends what one case started; if anything was still running, the
        wineserver too, so that nothing of it reaches the next case."""
        left = [proc for proc in self.procs if proc.poll() is None]
        for proc in left:
            proc.kill()
            proc.wait()
        self.procs.clear()
        if left:
            stop_server(self.prefix)
            self.serve()
            self.geometry = None

    def serve(self):
        """One wineserver for the whole session: without this it exits a few
        seconds after the last Wine process, and a probe started just then
        can find it going away."""
        subprocess.run([SERVER, "-p"], env=self.env, check=True)

    def __exit__(self, *exc):
        self.end_case()
        if hasattr(self, "x"):
            self.x.close()
        if hasattr(self, "xvfb"):
            self.xvfb.terminate()
            self.xvfb.wait()
            # Ended cleanly: nothing left for end_leftovers to SIGKILL.
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.prefix + ".xvfb")
        # Wine 10 can leave services.exe and its kin hung after the server
        # ends; the next session would end them, but nothing should outlive us.
        end_leftovers(self.prefix)
        if hasattr(self, "log"):
            self.log.close()
        self.lock.close()

    def wait(self, attempt, what, timeout=20.0):
        return wait_for(attempt, what, timeout * self.slowness)

    def until(self, condition, what, timeout=20.0, buttons=True):
        """The main window once condition(window) holds."""
        def attempt():
            win = self.window(buttons)
            if not condition(win):
                raise NotYet(f"saw window {win['window']}, client {win['client']}, "
                             f"(visible, minimised, maximised) {win['state']}")
            return win
        return self.wait(attempt, what, timeout)

    # --- processes -------------------------------------------------------
    def start(self, *argv, log=None, **env):
        """ARGV... under Wine in the background, tracked by pid, with Wine's
        log to LOG and ENV added. Its stdout goes to a file, read with
        proc.output(): Wine's helper processes inherit the handle, so a pipe
        would never reach its end."""
        out = open(os.path.join(self.keep, f"stdout-{len(self.procs)}.txt"), "w+")
        proc = subprocess.Popen([loader(argv[0]), *argv], env=dict(self.env, **env),
                                stdout=out, stderr=log or self.log)
        proc.output = lambda: (out.seek(0), out.read())[1]
        self.procs.append(proc)
        return proc

    def wait_exit(self, proc, timeout=20.0):
        try:
            return proc.wait(timeout * self.slowness)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the process (pid {proc.pid}) was still running "
                                 f"{timeout * self.slowness:.0f} s later") from None

    def probe(self, *args):
        """The probe's "key value" lines as a dict, or None when it says
        that what was asked for is not there (exit status 3)."""
        with tempfile.TemporaryFile("w+") as out:
            status = subprocess.run([WINE64, self.probe64, *args], env=self.env, stdout=out,
                                    stderr=self.log, timeout=60).returncode
            out.seek(0)
            lines = out.read().splitlines()
        if status == 3:
            return None
        if status != 0:
            raise RuntimeError(f"probe {args} failed with status {status}")
        return dict((line.split(" ", 1) + [""])[:2] for line in lines)

    def window(self, buttons=True):
        """The main window as the probe sees it, numbers as tuples of ints;
        without the caption buttons and the sizing corner unless asked."""
        info = self.probe("window", *(() if buttons else ("plain",)))
        if info is None:
            raise NotYet("no window of class MinimalApp with the expected title")

        def numbers(text):
            try:
                return tuple(int(n, 0) for n in text.split())
            except ValueError:
                return text
        return {key: numbers(value) for key, value in info.items()}

    # --- screen and input --------------------------------------------------
    def desktop(self):
        """Where the Wine desktop window sits on the X screen: x, y, w, h."""
        if self.geometry is None:
            root = self.x.screen().root
            for child in root.query_tree().children:
                # "Default - Wine desktop" in Wine 8, "Wine Desktop" in Wine 10
                if (child.get_wm_name() or "").lower().endswith("wine desktop"):
                    g = child.get_geometry()
                    at = child.translate_coords(root, 0, 0)
                    self.geometry = (-at.x, -at.y, g.width, g.height)
            if self.geometry is None:
                raise NotYet("no Wine desktop window on the X screen")
        return self.geometry

    def grab(self):
        """The Wine desktop as the X server shows it (without the pointer), as
        an RGB image whose (x, y) are Win32 screen coordinates."""
        x, y, w, h = self.desktop()
        raw = self.x.screen().root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (w, h), raw.data, "raw", "BGRX")

    def fake(self, kind, detail=0, **where):
        xtest.fake_input(self.x, kind, detail, **where)
        self.x.sync()

    def move(self, x, y):
        ox, oy = self.desktop()[:2]
        self.fake(X.MotionNotify, x=ox + x, y=oy + y)

    def click(self, x, y):
        self.press(x, y)
        self.release()

    def press(self, x, y):
        self.move(x, y)
        self.fake(X.ButtonPress, 1)

    def release(self):
        self.fake(X.ButtonRelease, 1)

    def key(self, chord):
        """A chord such as "alt+F4" or "Return"."""
        names = {"alt": "Alt_L", "ctrl": "Control_L", "shift": "Shift_L"}
        codes = [self.x.keysym_to_keycode(XK.string_to_keysym(names.get(k, k)))
                 for k in chord.split("+")]
        for code in codes:
            self.fake(X.KeyPress, code)
        for code in reversed(codes):
            self.fake(X.KeyRelease, code)


def run(exe, probe64):
    """scripts/run.sh: with DISPLAY set, just run EXE there. Otherwise run it
    on a private Xvfb, wait
    until it is active and painted, save build/screenshot.png, judge it
    against the oracle, close it with Alt+F4 and exit with its status, or
    non-zero if the picture was wrong."""
    import oracle  # noqa: needs nothing of ours, so no cycle
    if os.environ.get("DISPLAY"):
        with lock_prefix():
            make_prefix()
        return subprocess.call([loader(exe), exe], env=wine_env())
    keep = os.path.join(ROOT, "build", "run")
    with Session(arch_of(exe), keep, probe64) as s:
        app = s.start(exe)
        win = s.wait(lambda: oracle.require_shown(s.window()), "an active main window", 60.0)
        try:
            shot = s.wait(lambda: oracle.require_picture(s.grab(), win, win), "the picture")
            wrong = None
        except AssertionError as failure:
            shot, wrong = s.grab(), failure
        path = save_png(shot, os.path.join(ROOT, "build", "screenshot.png"), win["window"])
        print(f"Screenshot saved to {path}")
        if wrong:
            print(f"the picture is wrong: {wrong}", file=sys.stderr)
        s.key("alt+F4")
        status = s.wait_exit(app)
    print(f"gltriangles.exe exited with status {status}")
    return status if not wrong else status or 1


if __name__ == "__main__":
    if sys.argv[1:] == ["prefix"]:
        with lock_prefix():
            make_prefix()
    elif sys.argv[1:2] == ["run"] and len(sys.argv) == 4:
        sys.exit(run(*sys.argv[2:]))
    else:
        sys.exit("usage: wineharness.py prefix | run EXE PROBE64")
