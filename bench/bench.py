#!/usr/bin/env python3
"""Measures gltriangles.exe under Wine and Xvfb against bench/baseline.exe,
a bare Win32 window with no OpenGL, and prints one table of medians with
their min and max over several runs, both programs measured in the same run.

The screen is read straight from Xvfb's memory-mapped framebuffer, so
checking a picture costs well under a millisecond and does not touch the
X server or the program being measured.
"""

import argparse
import ctypes
import mmap
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import oracle

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The window as both programs create it: outer 400 x 150 at 0, 0. Wine's
# frame puts the client area at +4+23, 392 x 123, and the sizing corner
# at the window's bottom-right pixel.
CLIENT_ORIGIN = (4, 23)
CLIENT_SIZE = (392, 123)
GRIP = (398, 148)

RESIZE_STEP = (5, 3)     # pixels per step while growing; shrinking mirrors it
STEP_PERIOD = 0.05       # seconds per resize step, a brisk drag
START_TIMEOUT = 30.0
POLL = 0.001
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"


class Screen:
    """Xvfb with its framebuffer in a file that we map and read in place."""

    def __init__(self, workdir):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-fbdir", workdir],
            pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()
        with open(os.path.join(workdir, "Xvfb_screen0"), "rb") as f:
            self.fb = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        # XWD header: big-endian 32-bit fields; pixels follow the colour map.
        fields = struct.unpack(">25I", self.fb[:100])
        header_size, byte_order, bpp, self.stride, ncolours = (
            fields[0], fields[7], fields[11], fields[12], fields[19])
        if bpp != 32 or byte_order != 0:
            raise RuntimeError("unexpected framebuffer layout")
        self.base = header_size + 12 * ncolours

    def pixel(self, x, y):
        at = self.base + y * self.stride + 4 * x
        b, g, r = self.fb[at], self.fb[at + 1], self.fb[at + 2]
        return r, g, b

    def shows(self, points):
        ox, oy = CLIENT_ORIGIN
        return all(oracle.matches(self.pixel(ox + x, oy + y), c) for x, y, c in points)

    def wait_for(self, points, timeout):
        """Seconds until the client shows points, or None after timeout."""
        start = time.monotonic()
        while True:
            now = time.monotonic()
            if self.shows(points):
                return now - start
            if now - start > timeout:
                return None
            time.sleep(POLL)

    def close(self):
        self.fb.close()
        self.proc.terminate()
        self.proc.wait()


def cpu_ns(pid):
    """On-CPU time of every thread of pid, user and system, in nanoseconds."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass  # the thread ended
    return total


def cpu_ticks_ms(pid):
    """utime + stime from /proc/PID/stat, in ms (clock-tick resolution)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))


def wineserver_pid(prefix):
    """The wineserver of prefix: it works in a directory named after the
    prefix's device and inode."""
    st = os.stat(prefix)
    name = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == name:
                return int(pid)
        except OSError:
            pass
    return None


class Pointer:
    """The X test extension, called in-process: a step's clock starts when
    the server has taken the motion, with no helper process start-up in it."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open display {display}")

    def move(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.x11.XSync(self.dpy, 0)

    def button(self, down):
        self.xtst.XTestFakeButtonEvent(self.dpy, 1, 1 if down else 0, 0)
        self.x11.XSync(self.dpy, 0)

    def close(self):
        self.x11.XCloseDisplay(self.dpy)


class Wine:
    def __init__(self, prefix, display, workdir):
        self.prefix = prefix
        self.env = dict(os.environ, DISPLAY=display, WINEPREFIX=prefix,
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        # opengl32 traces each GL call it forwards; the
                        # glClear lines count paints from outside.
                        WINEDEBUG="-all,trace+opengl")
        self.workdir = workdir
        subprocess.run([os.path.join(ROOT, "scripts/wine-prefix.sh"), prefix],
                       check=True, env=self.env)
        # Keep the server (and the desktop) up between launches, so each
        # launch pays for the process and not for booting the prefix. The
        # prefix is the bench's own, so no one else's server is stopped.
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], check=True, env=self.env)
        # Windows shows the contents while a window is sized; Wine's default
        # is an outline, which would hide every step until the button is up.
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v",
                        "DragFullWindows", "/d", "1", "/f"],
                       check=True, env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def launch(self, exe, arch):
        # The 64-bit loader, called directly, becomes the 64-bit process;
        # through the `wine` wrapper it would be started by start.exe under
        # another pid, out of our sight.
        loader = "wine" if arch == "win32" else WINE64
        trace = os.path.join(self.workdir, "trace.txt")
        with open(trace, "w") as err:
            proc = subprocess.Popen([loader, exe], env=self.env, stdout=subprocess.DEVNULL,
                                    stderr=err)
        return proc, trace

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env)


def paints(trace):
    with open(trace, errors="replace") as f:
        return sum(":glClear " in line for line in f)


def one_run(screen, pointer, wine, exe, arch, picture, idle_s, steps):
    """Launch exe, time its first picture, then idle, resize and close it."""
    w0, h0 = CLIENT_SIZE
    out = {}
    first_picture = picture(w0, h0, w0, h0)
    start = time.monotonic()
    proc, trace = wine.launch(exe, arch)
    try:
        shown = screen.wait_for(first_picture, START_TIMEOUT)
        if shown is None:
            raise RuntimeError(f"{os.path.basename(exe)}: no correct picture in {START_TIMEOUT} s")
        out["start_ms"] = (time.monotonic() - start) * 1000
        out["rss_first_kib"] = peak_rss_kib(proc.pid)
        if idle_s:
            # Let the start-up messages drain before the idle span begins.
            time.sleep(0.2)
            cpu0, ticks0, paints0 = cpu_ns(proc.pid), cpu_ticks_ms(proc.pid), paints(trace)
            server = wineserver_pid(wine.prefix)
            server0 = cpu_ns(server) if server else None
            time.sleep(idle_s)
            out["idle_cpu_ms"] = (cpu_ns(proc.pid) - cpu0) / 1e6
            out["idle_ticks_ms"] = cpu_ticks_ms(proc.pid) - ticks0
            out["idle_paints"] = paints(trace) - paints0
            if server0 is not None:
                out["idle_server_ms"] = (cpu_ns(server) - server0) / 1e6
        if steps:
            out.update(resize(screen, pointer, picture, steps, trace))
        out["rss_peak_kib"] = peak_rss_kib(proc.pid)
        wine.xdotool("key", "alt+F4")
        out["exit"] = proc.wait(timeout=10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return out


def resize(screen, pointer, picture, steps, trace):
    """Drag the sizing corner out and back in `steps` steps, one every
    STEP_PERIOD with the button held, and watch the client area throughout
    each step: when it first shows the picture at its new size, whether it
    flickers away from it again, and whether it shows it when the step ends."""
    w0, h0 = CLIENT_SIZE
    gx, gy = GRIP
    dx, dy = RESIZE_STEP
    half = steps // 2
    offsets = [k if k <= half else 2 * half - k for k in range(1, steps + 1)]
    # Work out every expected picture first, so none of that is timed.
    pictures = [picture(w0, h0, w0 + n * dx, h0 + n * dy) for n in offsets]
    paints0 = paints(trace)
    pointer.move(gx, gy)
    pointer.button(True)
    time.sleep(STEP_PERIOD)
    firsts, held, flickered = [], 0, 0
    for n, points in zip(offsets, pictures):
        pointer.move(gx + n * dx, gy + n * dy)
        start = time.monotonic()
        first, shown, lost = None, False, False
        while (now := time.monotonic()) - start < STEP_PERIOD:
            was, shown = shown, screen.shows(points)
            if shown and first is None:
                first = now - start
            lost = lost or (was and not shown)
            time.sleep(POLL)
        held += shown
        flickered += lost
        if first is not None:
            firsts.append(first * 1000)
    pointer.button(False)
    # Back at the first size: let it settle before anything else.
    screen.wait_for(picture(w0, h0, w0, h0), 1.0)
    return {"steps_held": held,
            "steps_shown": len(firsts),
            "steps_flickered": flickered,
            "step_median_ms": statistics.median(firsts) if firsts else None,
            "step_worst_ms": max(firsts) if firsts else None,
            "resize_paints": paints(trace) - paints0}


def pe_info(exe, arch):
    tool = "i686-w64-mingw32-objdump" if arch == "win32" else "x86_64-w64-mingw32-objdump"
    dump = subprocess.run([tool, "-p", exe], check=True, capture_output=True, text=True).stdout
    dlls = sorted({d.upper() for d in re.findall(r"DLL Name: (\S+)", dump)})
    return os.path.getsize(exe), dlls


def spread(values, fmt="{:.0f}"):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    med = fmt.format(statistics.median(values))
    if len(values) == 1:
        return med
    return f"{med} [{fmt.format(min(values))}-{fmt.format(max(values))}]"


def ratio(a, b):
    a = [v for v in a if v is not None]
    b = [v for v in b if v is not None]
    if not a or not b or statistics.median(b) == 0:
        return ""
    return f"{statistics.median(a) / statistics.median(b):.2f}x"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=float, default=10.0, help="idle span, seconds")
    parser.add_argument("--steps", type=int, default=100, help="resize steps")
    parser.add_argument("--builds", default=os.path.join(ROOT, "build"),
                        help="folder with the win32 and win64 build trees")
    parser.add_argument("--prefix", default=os.path.join(ROOT, "build/bench-wineprefix"))
    args = parser.parse_args()

    exes = {(name, arch): os.path.join(args.builds, arch, path)
            for arch in ("win32", "win64")
            for name, path in (("gltriangles", "gltriangles.exe"),
                               ("baseline", "bench/baseline.exe"))}
    for exe in exes.values():
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build presets win32 and win64 first")
    pictures = {"gltriangles": oracle.scene_points, "baseline": oracle.plain_points}

    began = time.monotonic()
    load_before = os.getloadavg()
    workdir = tempfile.mkdtemp(prefix="gltriangles-bench-")
    screen = pointer = wine = None
    results = {key: [] for key in exes}
    try:
        screen = Screen(workdir)
        pointer = Pointer(screen.display)
        wine = Wine(args.prefix, screen.display, workdir)
        # One unmeasured launch of each, to warm the file cache and the desktop.
        for key in exes:
            one_run(screen, pointer, wine, exes[key], key[1], pictures[key[0]], 0, 0)
        for i in range(args.runs):
            # Alternate the order so that drift in the machine's load falls
            # on both programs alike.
            order = ["gltriangles", "baseline"][:: 1 if i % 2 == 0 else -1]
            for name in order:
                print(f"run {i + 1}/{args.runs}: {name} win32", file=sys.stderr)
                results[(name, "win32")].append(one_run(
                    screen, pointer, wine, exes[(name, "win32")], "win32", pictures[name],
                    args.idle, args.steps))
            for name in order:
                results[(name, "win64")].append(one_run(
                    screen, pointer, wine, exes[(name, "win64")], "win64", pictures[name], 0, 0))
    finally:
        if wine:
            wine.close()
        if pointer:
            pointer.close()
        if screen:
            screen.close()
        shutil.rmtree(workdir, ignore_errors=True)
    print_table(args, exes, results, time.monotonic() - began, load_before)


def print_table(args, exes, results, elapsed, load_before):
    def col(name, arch, key, fmt="{:.0f}", scale=1.0):
        return [r[key] * scale if r.get(key) is not None else None
                for r in results[(name, arch)]]

    rows = []

    def row(label, key, arch="win32", fmt="{:.0f}", scale=1.0, target=""):
        a = col("gltriangles", arch, key, fmt, scale)
        b = col("baseline", arch, key, fmt, scale)
        rows.append((label, spread(a, fmt), spread(b, fmt), ratio(a, b), target))

    row("start-up to first full picture, ms", "start_ms")
    row("  the same, 64-bit exe, ms", "start_ms", arch="win64")
    row(f"idle CPU over {args.idle:g} s (schedstat), ms", "idle_cpu_ms", fmt="{:.1f}",
        target="< 20")
    row(f"idle CPU over {args.idle:g} s (utime+stime), ms", "idle_ticks_ms", target="< 20")
    row(f"paints during the idle {args.idle:g} s", "idle_paints")
    row(f"wineserver CPU over the idle {args.idle:g} s, ms", "idle_server_ms", fmt="{:.1f}")
    row(f"resize: steps correct at the next step, of {args.steps}", "steps_held",
        target=f"{args.steps}")
    row(f"resize: steps that showed it at all, of {args.steps}", "steps_shown")
    row("resize: steps that flickered after it", "steps_flickered")
    row("resize: step to correct picture, median ms", "step_median_ms", fmt="{:.1f}")
    row("resize: step to correct picture, worst ms", "step_worst_ms", fmt="{:.1f}")
    row("resize: paints", "resize_paints")
    row("peak RSS at first picture, MiB", "rss_first_kib", fmt="{:.1f}", scale=1 / 1024)
    row("  the same, 64-bit exe, MiB", "rss_first_kib", arch="win64", fmt="{:.1f}",
        scale=1 / 1024)
    row("peak RSS over the whole run, MiB", "rss_peak_kib", fmt="{:.1f}", scale=1 / 1024)
    for arch in ("win32", "win64"):
        (size_a, dlls_a), (size_b, dlls_b) = (pe_info(exes[("gltriangles", arch)], arch),
                                              pe_info(exes[("baseline", arch)], arch))
        rows.append((f"file size {arch}, KiB", f"{size_a / 1024:.1f}", f"{size_b / 1024:.1f}",
                     f"{size_a / size_b:.2f}x", "< 24" if arch == "win32" else ""))
        rows.append((f"DLLs imported {arch}", " ".join(d.removesuffix(".DLL") for d in dlls_a),
                     " ".join(d.removesuffix(".DLL") for d in dlls_b), "", ""))

    exits = {r["exit"] for runs in results.values() for r in runs}
    header = ("figure", "gltriangles median [min-max]", "baseline median [min-max]",
              "ratio", "target")
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    line = "  ".join("{:<%d}" % w for w in widths)
    print(line.format(*header))
    print(line.format(*("-" * w for w in widths)))
    for r in rows:
        print(line.format(*r))
    print()
    print(f"{args.runs} runs each; exit statuses seen: {sorted(exits)}; "
          f"took {elapsed:.0f} s; load average before {load_before[0]:.2f}, "
          f"after {os.getloadavg()[0]:.2f}; {os.cpu_count()} CPUs; "
          f"{platform.processor() or platform.machine()}; "
          f"{subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}")


if __name__ == "__main__":
    main()
