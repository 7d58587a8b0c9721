"""The Wine prefix that every run shares, kept in build/wineprefix: how it is
made, who may use it (one run at a time, by its lock), what a killed run
left on it, which loader runs an exe, and a run on the user's own display."""

import contextlib
import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
from collections import namedtuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = os.path.join(ROOT, "build", "wineprefix")
# Debian's Wine, which deps.sh installs, or else the one on PATH: all three
# from the same Wine, since a wineserver serves only its own version. (Debian
# puts wine and wineserver on PATH only with the 32-bit package, and wine64
# never.)
if os.path.exists("/usr/lib/wine/wine64"):
    WINE64, WINE32, SERVER = (f"/usr/lib/wine/{name}" for name in ("wine64", "wine", "wineserver"))
else:
    WINE64, WINE32, SERVER = (shutil.which(name) or name for name in ("wine64", "wine", "wineserver"))
# Wine's error channel stays on, into each run's log, so that a failed run can
# show why (wineharness/diagnose.py); its fixme noise does not. No Mono, no Gecko.
WINE_ENV = {"WINEDEBUG": "fixme-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
READY = ".gltriangles-ready"  # written last: a prefix without it is half-made


def host32():
    """native, emulated or none: whether 32-bit programs run here, as the
    command that started us decided (scripts/host32.sh)."""
    if os.environ.get("GLTRIANGLES_HOST32") not in ("native", "emulated", "none"):
        raise RuntimeError("GLTRIANGLES_HOST32 is not set: scripts/host32.sh decides it")
    return os.environ["GLTRIANGLES_HOST32"]


def wine_version():
    """(major, minor) of that Wine, from "wine-8.0 (Debian 8.0~repack-4)"."""
    out = subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout
    m = re.match(r"wine-(\d+)\.(\d+)", out)
    if not m:
        raise RuntimeError(f"{WINE64} --version said {out.strip()!r}, not wine-N.N: is Wine installed?"
                           " scripts/deps.sh installs it")
    return int(m[1]), int(m[2])


# An exe's header: "win32" or "win64", its preferred base, its size in memory.
PeHeader = namedtuple("PeHeader", "arch base size")
# What the Windows loader reads: subsystem, DllCharacteristics, imported DLLs.
PeLinks = namedtuple("PeLinks", "subsystem flags dlls")


def pe_header(exe):
    """EXE's PeHeader, from its header."""
    with open(exe, "rb") as f:
        head = f.read(1024)
    optional = struct.unpack_from("<I", head, 0x3C)[0] + 24
    if head[optional + 1] == 2:  # PE32+
        arch, base = "win64", struct.unpack_from("<Q", head, optional + 24)[0]
    else:
        arch, base = "win32", struct.unpack_from("<I", head, optional + 28)[0]
    return PeHeader(arch, base, struct.unpack_from("<I", head, optional + 56)[0])


def arch(exe):
    """win32 or win64: what EXE is built for."""
    return pe_header(exe).arch


class Tree:
    """A Windows build tree (build/win32, build/win64, ...): its exe, its
    check program, and the architecture they are built for."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.exe = os.path.join(self.path, "gltriangles.exe")
        self.check = os.path.join(self.path, "wineharness", "check.exe")

    @property
    def arch(self):
        return arch(self.exe)


# What `check run` and `check story` exit with when not with the exe's
# status (check.cpp): the picture was wrong (the exe closed all the same);
# no window, a step that did not happen, or no exit. They say why on stdout.
WRONG_PICTURE, FAILED = 124, 125


def pe_links(exe):
    """EXE's PeLinks (its imported DLLs in upper case), as the Windows loader
    reads them; one objdump reads PE32 and PE32+."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe],
                          check=True, capture_output=True, text=True).stdout
    field = lambda name: int(re.search(rf"^{name}\s+([0-9a-f]+)", dump, re.M).group(1), 16)
    dlls = sorted({d.upper() for d in re.findall(r"DLL Name: (\S+)", dump)})
    return PeLinks(field("Subsystem"), field("DllCharacteristics"), dlls)


def loader(exe):
    """The loader that becomes EXE's own process, so its pid is ours."""
    return WINE64 if arch(exe) == "win64" else WINE32


def wine_env(prefix=PREFIX, **extra):
    return {**os.environ, "WINEPREFIX": prefix, **WINE_ENV, **extra}


def windows_path(path):
    """The Z: drive of a default prefix is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


_HELD = {}  # prefix: [its locked file, how many holders in this process]


class PrefixLock:
    """One holder's share of a prefix's lock; the lock goes with the last."""

    def __init__(self, prefix):
        self.prefix = prefix

    def close(self):
        if self.prefix:
            held = _HELD[self.prefix]
            held[1] -= 1
            if not held[1]:
                held[0].close()
                del _HELD[self.prefix]
            self.prefix = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def lock_prefix(prefix=PREFIX):
    """An exclusive lock on the prefix, held until the returned PrefixLock is
    closed, so that runs that share the prefix take turns. A process that
    holds it may take it again: a command that keeps files of its own beside
    the prefix (a log, an evidence folder) holds it around its session."""
    if prefix not in _HELD:
        os.makedirs(os.path.dirname(prefix), exist_ok=True)
        lock = open(prefix + ".lock", "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"waiting for {prefix}: another run is using it", file=sys.stderr, flush=True)
            fcntl.flock(lock, fcntl.LOCK_EX)
        _HELD[prefix] = [lock, 0]
    _HELD[prefix][1] += 1
    return PrefixLock(prefix)


def stop_server(prefix):
    """Ends the prefix's wineserver and everything on it, and waits for it."""
    for flag in ("-k", "-w"):
        subprocess.run([SERVER, flag], env=wine_env(prefix), stderr=subprocess.DEVNULL)


def process_id(pid):
    """PID and when it started, in clock ticks since boot: the two name one
    process, where a pid alone may have been reused."""
    with open(f"/proc/{pid}/stat") as f:
        return f"{pid} {f.read().rsplit(')', 1)[1].split()[19]}"


def end_leftovers(prefix):
    """Ends what a run killed with SIGKILL left: the prefix's wineserver with
    every Wine process on it, and the Xvfb it noted."""
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
    with contextlib.suppress(OSError, ValueError):
        with open(prefix + ".xvfb") as f:  # our Xvfb, as the session noted it
            noted = f.read()
        os.remove(prefix + ".xvfb")
        if process_id(noted.split()[0]) == noted:
            os.kill(int(noted.split()[0]), signal.SIGKILL)


def make_prefix(prefix=PREFIX):
    """Makes the prefix once, in Wine's virtual desktop, so Wine draws real
    frames and caption buttons, with Wine's errors in PREFIX.log. Where
    32-bit programs can run, the prefix gets its 32-bit half too; one made
    without it is made again then. Returns its desktop's size (settle)."""
    kind = "wow64" if host32() != "none" and os.path.exists(WINE32) else "win64"
    marker = os.path.join(prefix, READY)
    if os.path.exists(marker):
        with open(marker) as f:
            if f.read() in (kind, "wow64"):
                return settle(prefix)
    end_leftovers(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(prefix)
    began = time.monotonic()
    print(f"making the Wine prefix {prefix} ({kind})...", file=sys.stderr, flush=True)
    with open(prefix + ".log", "w") as log:
        status = subprocess.run([WINE64, "wineboot", "-i"], env=env, stdout=log, stderr=log).returncode
    if status != 0:
        with open(prefix + ".log", errors="replace") as f:
            tail = "".join(f.readlines()[-20:])
        raise RuntimeError(f"wine64 wineboot -i exited with {status} while making the prefix; "
                           f"the end of {prefix}.log:\n{tail}")
    # This Wine does not pick up its own data directory's fonts: without
    # Marlett the caption buttons show letters.
    shutil.copy("/usr/share/wine/fonts/marlett.ttf",
                os.path.join(prefix, "drive_c", "windows", "Fonts"))
    with open(marker, "w") as f:
        f.write(kind)
    print(f"made it in {time.monotonic() - began:.0f} s", file=sys.stderr)
    return settle(prefix)


def settle(prefix):
    """Gives the prefix what makes its desktop more like Windows', where it
    lacks it: Explorer's taskbar (a minimised window goes off the screen), no
    crash dialog waiting for a click, the screen's DPI (GLTRIANGLES_DPI, 96
    by default), and a desktop of 800 x 600 at 96 DPI, grown with it as a
    scaled laptop screen has more pixels. Its server, ended (which saves them),
    takes them at its next start. Returns the desktop's width and height."""
    dpi = os.environ.get("GLTRIANGLES_DPI") or "96"
    if not dpi.isdigit() or not 96 <= int(dpi) <= 480:
        raise RuntimeError(f"GLTRIANGLES_DPI={dpi}: give the screen's DPI, 96 to 480 (144 is 150 %)")
    dpi, width, height = int(dpi), 800 * int(dpi) // 96, 600 * int(dpi) // 96
    settings = os.path.join(prefix, "settings.reg")  # as last imported
    wanted = (f'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n'
              f'\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:{dpi:08x}\n'
              f'\n[HKEY_CURRENT_CONFIG\\Software\\Fonts]\n"LogPixels"=dword:{dpi:08x}\n'
              f'\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="{width}x{height}"\n'
              f'\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops\\Default]\n"EnableShell"=dword:00000001\n'
              f'\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n')
    if os.path.exists(settings) and open(settings).read() == wanted:
        return width, height
    with open(settings + ".new", "w") as f:
        f.write(wanted)
    done = subprocess.run([WINE64, "reg", "import", windows_path(settings + ".new")],
                          env=wine_env(prefix), capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"wine64 reg import {settings}.new exited with {done.returncode}: "
                           f"{done.stderr.strip()[-300:]}")
    stop_server(prefix)
    os.replace(settings + ".new", settings)
    return width, height


def run_on_display(exe, log=None, before=None, **env):
    """Runs EXE on the user's DISPLAY, for them to drive, holding the prefix
    until it exits, so that no test session ends it as a leftover. BEFORE,
    if given, is called with the Wine environment once the prefix is ready.
    Returns the exit status."""
    with lock_prefix():
        make_prefix()
        if before:
            before(wine_env())
        return subprocess.call([loader(exe), exe], env=wine_env(**env), stderr=log)
