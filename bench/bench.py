#!/usr/bin/env python3
"""Measures gltriangles.exe under Wine and Xvfb against bench/baseline.exe,
the program's own shell with an empty renderer (no OpenGL), and prints one
table: each figure's median with its min and max over several runs, both
programs measured in the same run, in alternating order.

It drives Wine through the end-to-end tests' harness and judges pictures
with their colour oracle. Two things are its own, because timing needs
them: the screen is read straight from Xvfb's memory-mapped framebuffer
(a check of the oracle's ~6000 samples costs about a millisecond and does
not go through the X server), and the pointer moves through the X test
extension in-process, so a step's clock starts when the server has taken
the motion.
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

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from test_gltriangles import TOLERANCE, client_triangles, colour_at, expected_picture  # noqa: E402
from wineharness import Session, Shot, wait_for  # noqa: E402

RESIZE_STEP = (5, 3)     # pixels per step while growing; shrinking mirrors it
STEP_PERIOD = 0.05       # seconds per resize step, a brisk drag
START_TIMEOUT = 30.0
POLL = 0.001
WHITE = (255, 255, 255)


class BenchSession(Session):
    """The harness's session with the X screen mapped into our memory, an
    in-process pointer, and each launch's part of Wine's log at hand."""

    def __init__(self, *args, **kwargs):
        # The framebuffer in a file, and no cursor, which Xvfb would draw
        # into it right where the resize drags the sizing corner.
        self.fbdir = tempfile.mkdtemp(prefix="gltriangles-bench-")
        super().__init__(*args, xvfb_args=("-fbdir", self.fbdir, "-nocursor"), **kwargs)

    def __enter__(self):
        super().__enter__()
        try:
            with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as f:
                self.fb = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
            # An XWD file: big-endian header, colour map, then the pixels.
            fields = struct.unpack(">25I", self.fb[:100])
            if fields[11] != 32 or fields[7] != 0:
                raise RuntimeError("expected 32-bit little-endian pixels")
            self.fb_base, self.fb_stride = fields[0] + 12 * fields[19], fields[12]
            self.pointer = Pointer(self.env["DISPLAY"])
            # opengl32 traces every GL call it passes on: its glClear lines
            # count the paints from outside the program, and their time
            # stamps show where the start-up goes.
            self.env["WINEDEBUG"] = "-all,+timestamp,trace+opengl"
            # Keep the server and the desktop up between launches, so that
            # each launch pays for its process and not for the prefix.
            subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if hasattr(self, "pointer"):
            self.pointer.close()
        if hasattr(self, "fb"):
            self.fb.close()
        super().__exit__(*exc)
        shutil.rmtree(self.fbdir, ignore_errors=True)

    def launch(self, exe):
        self.log.flush()
        self.trace_from = os.path.getsize(self.log.name)
        return self.start(exe)

    def trace(self):
        """Wine's log lines since the last launch."""
        with open(self.log.name, errors="replace") as f:
            f.seek(self.trace_from)
            return f.readlines()

    def save_screen(self, path):
        """The Wine desktop as the framebuffer holds it, saved as a PNG:
        what the bench saw when a check gave up."""
        x, y, w, h = self.desktop()
        data = bytearray(3 * w * h)
        for row in range(h):
            at = self.fb_base + (y + row) * self.fb_stride + 4 * x
            bgrx = self.fb[at:at + 4 * w]
            rgb = bytearray(3 * w)
            rgb[0::3], rgb[1::3], rgb[2::3] = bgrx[2::4], bgrx[1::4], bgrx[0::4]
            data[3 * w * row:3 * w * (row + 1)] = rgb
        return Shot(w, h, bytes(data)).save_png(path)

    def paints(self):
        return sum(":glClear " in line for line in self.trace())

    def shows(self, picture):
        fb = self.fb
        for at, r, g, b in picture:
            if (abs(fb[at + 2] - r) > TOLERANCE or abs(fb[at + 1] - g) > TOLERANCE
                    or abs(fb[at] - b) > TOLERANCE):
                return False
        return True

    def wait_shown(self, picture, timeout):
        """Seconds until the screen shows picture, or None at the timeout."""
        start = time.monotonic()
        while True:
            now = time.monotonic()
            if self.shows(picture):
                return now - start
            if now - start > timeout:
                return None
            time.sleep(POLL)


class Pointer:
    """The X test extension, called in-process through libXtst."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [
            ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [
            ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
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


class Pictures:
    """Expected pictures as (framebuffer offset, r, g, b) samples, worked
    out once per client size: the end-to-end tests' oracle over the client
    area, plus the client's last column and row and the outer line of the
    window's frame, which tell the new size from the old one where the
    client is one colour all over (the baseline's white)."""

    def __init__(self, session, win):
        ox, oy = session.desktop()[:2]
        wx, wy, ww, wh = win["window"]
        cx, cy, self.w0, self.h0 = win["client"]
        self.x, self.y = cx + ox, cy + oy
        # From the client's far edges to the frame's outer line.
        self.right, self.bottom = wx + ww - cx - self.w0 - 1, wy + wh - cy - self.h0 - 1
        self.base, self.stride = session.fb_base, session.fb_stride
        # The frame line's colour, once it differs from the desktop beyond it.
        at = self.offset(self.w0 + self.right, self.h0 // 2)

        def drawn():
            assert session.fb[at:at + 3] != session.fb[at + 4:at + 7], "no frame yet"

        wait_for(drawn, "the window's frame")
        self.frame = tuple(session.fb[at + 2 - i] for i in range(3))
        self.cache = {}

    def offset(self, x, y):
        """Where client pixel (x, y) sits in the framebuffer."""
        return self.base + (self.y + y) * self.stride + 4 * (self.x + x)

    def get(self, name, w, h):
        key = (name, w, h)
        if key not in self.cache:
            if (w, h) not in self.cache:
                self.cache[(w, h)] = expected_picture(w, h, self.w0, self.h0)
            grid = self.cache[(w, h)]
            triangles = client_triangles(w, h, self.w0, self.h0)
            along = [(i * (w - 1) // 8, i * (h - 1) // 8) for i in range(8)]
            edges = {}
            for p in [(w - 1, y) for _, y in along] + [(x, h - 1) for x, _ in along]:
                colour = colour_at((p[0] + 0.5, p[1] + 0.5), triangles)
                if colour is not None:
                    edges[p] = colour
            if name == "baseline":  # erased with its white class brush, all over
                grid, edges = dict.fromkeys(grid, WHITE), dict.fromkeys(edges, WHITE)
            frame = {}
            for x, y in along:
                frame[(w + self.right, y)] = frame[(x, h + self.bottom)] = self.frame
            # The edges first: they tell a new size from the old one fastest.
            samples = [(self.offset(x, y), r, g, b)
                       for (x, y), (r, g, b) in {**frame, **edges, **grid}.items()]
            self.cache[key] = samples, samples[:len(frame) + len(edges)]
        return self.cache[key][0]

    def edges(self, name, w, h):
        """Only the frame line and the client's last column and row: cheap
        enough to watch for a flicker between full checks."""
        self.get(name, w, h)
        return self.cache[(name, w, h)][1]


def cpu_ns(pid):
    """On-CPU time of every thread of pid, user and system, in nanoseconds."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass  # the thread has just ended
    return total


def cpu_ticks_ms(pid):
    """utime + stime from /proc/PID/stat, in ms, at clock-tick resolution."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))


def wineserver_pid(prefix):
    """The prefix's wineserver works in a folder named after the prefix's
    device and inode numbers."""
    st = os.stat(prefix)
    name = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == name:
                return int(pid)
        except OSError:
            pass
    return None


def raw_clock():
    """Seconds on the clock that Wine stamps its trace lines with."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def gl_call_times(lines, call=None):
    """When the program entered GL calls, from Wine's +timestamp trace, in
    seconds on raw_clock with millisecond steps: a list for one call, or
    each call's first time."""
    times, first = [], {}
    for line in lines:
        m = re.match(r"(\d+\.\d+):\w+:trace:opengl:(\w+( returning)?)", line)
        if m and call is None:
            first.setdefault(m[2], float(m[1]))
        elif m and m[2] == call:
            times.append(float(m[1]))
    return first if call is None else times


def startup_split(lines, start, shown):
    """Where the start-up went, between the first entries into GL calls."""
    first = gl_call_times(lines)
    marks = [start] + [first.get(k) for k in (
        "wglChoosePixelFormat", "wglChoosePixelFormat returning", "wglMakeCurrent",
        "glClear")] + [shown]
    if None in marks:
        return {}
    return {f"split{i}_ms": (b - a) * 1000 for i, (a, b) in enumerate(zip(marks, marks[1:]))}


def one_run(s, pictures, name, exe, arch, grip, idle_s, steps):
    """Launch exe, time its first picture, then idle, resize and close it."""
    out = {}
    first = pictures.get(name, pictures.w0, pictures.h0)
    start = raw_clock()
    proc = s.launch(exe)
    if s.wait_shown(first, START_TIMEOUT) is None:
        shot = s.save_screen(os.path.join(s.keep, f"no-picture-{name}-{arch}.png"))
        raise RuntimeError(f"{name} {arch}: no correct picture within {START_TIMEOUT:.0f} s; "
                           f"the screen is in {shot}")
    shown = raw_clock()
    out["start_ms"] = (shown - start) * 1000
    if name == "gltriangles":
        out.update(startup_split(s.trace(), start, shown))
    out["rss_first_kib"] = peak_rss_kib(proc.pid)
    if idle_s:
        time.sleep(0.2)  # let the start-up messages drain first
        server = wineserver_pid(s.prefix)
        cpu0, ticks0, paints0 = cpu_ns(proc.pid), cpu_ticks_ms(proc.pid), s.paints()
        server0 = cpu_ns(server) if server else None
        time.sleep(idle_s)
        out["idle_cpu_ms"] = (cpu_ns(proc.pid) - cpu0) / 1e6
        out["idle_ticks_ms"] = cpu_ticks_ms(proc.pid) - ticks0
        if name == "gltriangles":
            out["idle_paints"] = s.paints() - paints0
        if server0 is not None:
            out["idle_server_ms"] = (cpu_ns(server) - server0) / 1e6
    if steps:
        out.update(resize(s, pictures, name, grip, steps))
    out["rss_peak_kib"] = peak_rss_kib(proc.pid)
    s.key("alt+F4")
    try:
        out["exit"] = s.wait_exit(proc, 10)
    except AssertionError:
        proc.kill()  # the figures stand; the table says it had to be killed
        proc.wait()
        out["exit"] = "killed"
    return out


def resize(s, pictures, name, grip, steps):
    """Drag the sizing corner out and back in `steps` steps, one every
    STEP_PERIOD with the button held, and watch the client area all through
    each step: when it first shows the picture at its new size, whether it
    loses it again, and whether it shows it when the next step comes."""
    gx, gy = grip
    dx, dy = RESIZE_STEP
    half = steps // 2
    offsets = [k if k <= half else 2 * half - k for k in range(1, steps + 1)]
    # Work out every expected picture first, so that none of it is timed.
    sizes = [(pictures.w0 + n * dx, pictures.h0 + n * dy) for n in offsets]
    wanted = [(pictures.get(name, *size), pictures.edges(name, *size)) for size in sizes]
    paints0 = s.paints() if name == "gltriangles" else None
    s.pointer.move(gx, gy)
    s.pointer.button(True)
    time.sleep(STEP_PERIOD)
    starts, firsts, held, flickered = [], [], 0, 0
    for n, (picture, edges) in zip(offsets, wanted):
        s.pointer.move(gx + n * dx, gy + n * dy)
        start = raw_clock()
        starts.append(start)
        first, shown, lost = None, False, False
        while (now := raw_clock()) - start < STEP_PERIOD:
            if first is None:
                if s.shows(picture):
                    first, shown = now - start, True
            else:  # shown once: now watch the edges, where a flicker shows
                was, shown = shown, s.shows(edges)
                lost = lost or (was and not shown)
            time.sleep(POLL)
        held += s.shows(picture)
        flickered += lost
        firsts.append(first)
    s.pointer.button(False)
    s.wait_shown(pictures.get(name, pictures.w0, pictures.h0), 1.0)
    shown_ms = [f * 1000 for f in firsts if f is not None]
    out = {"steps_held": held, "steps_shown": len(shown_ms), "steps_flickered": flickered,
           "step_median_ms": statistics.median(shown_ms) if shown_ms else None,
           "step_worst_ms": max(shown_ms) if shown_ms else None}
    if paints0 is not None:
        out["resize_paints"] = s.paints() - paints0
        # Split each step at its first glClear, by the trace's time stamps.
        clears = gl_call_times(s.trace(), "glClear")
        to_paint, to_picture = [], []
        for start, end, first in zip(starts, starts[1:] + [float("inf")], firsts):
            clear = next((t for t in clears if start <= t < end), None)
            if clear is not None and first is not None:
                to_paint.append((clear - start) * 1000)
                to_picture.append(first * 1000 - to_paint[-1])
        if to_paint:
            out["step_to_paint_ms"] = statistics.median(to_paint)
            out["paint_to_picture_ms"] = statistics.median(to_picture)
    return out


def pe_info(exe, arch):
    tool = "i686-w64-mingw32-objdump" if arch == "win32" else "x86_64-w64-mingw32-objdump"
    dump = subprocess.run([tool, "-p", exe], check=True, capture_output=True, text=True).stdout
    return os.path.getsize(exe), sorted({d.upper() for d in re.findall(r"DLL Name: (\S+)", dump)})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=float, default=10.0, help="idle span, seconds")
    parser.add_argument("--steps", type=int, default=100, help="resize steps")
    parser.add_argument("--builds", default=os.path.join(ROOT, "build"),
                        help="folder that holds the win32 and win64 build trees")
    # Its own prefix: the bench neither waits for nor disturbs the tests'.
    parser.add_argument("--prefix", default=os.path.join(ROOT, "build", "bench-wineprefix"))
    args = parser.parse_args()

    exes = {(name, arch): os.path.join(args.builds, arch, path)
            for arch in ("win32", "win64")
            for name, path in (("gltriangles", "gltriangles.exe"),
                               ("baseline", "bench/baseline.exe"))}
    probe = os.path.join(args.builds, "win32", "tests", "e2e", "e2e_probe.exe")
    for exe in [*exes.values(), probe]:
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build the presets win32 and win64 first")

    began = time.monotonic()
    load_before = os.getloadavg()
    results = {key: [] for key in exes}
    # Without the tests' poisoned memory and MIT-SHM switched off: the
    # bench measures the program as it runs, not as the tests trap it.
    keep = os.path.join(args.builds, "bench-kept")  # Wine's log, and screens on failure
    shutil.rmtree(keep, ignore_errors=True)
    with BenchSession(args.prefix, probe, keep, expose_uninitialised=False) as s:
        s.probe("dragfull")  # show the contents while sizing, as Windows does
        # Both windows have the same geometry: take it from the program, in
        # an unmeasured launch that also warms the caches.
        proc = s.launch(exes[("gltriangles", "win32")])
        win = wait_for(s.window, "the main window")
        pictures = Pictures(s, win)
        s.key("alt+F4")
        s.wait_exit(proc)
        ox, oy = s.desktop()[:2]
        grip = (win["grip"][0] + ox, win["grip"][1] + oy)
        for key in exes:
            one_run(s, pictures, key[0], exes[key], key[1], grip, 0, 0)
        for i in range(args.runs):
            # Alternate the order, so that drift in the load falls on both.
            order = ["gltriangles", "baseline"][::1 if i % 2 == 0 else -1]
            for arch, idle, steps in (("win32", args.idle, args.steps), ("win64", 0, 0)):
                for name in order:
                    print(f"run {i + 1}/{args.runs}: {name} {arch}", file=sys.stderr)
                    results[(name, arch)].append(one_run(
                        s, pictures, name, exes[(name, arch)], arch, grip, idle, steps))
    print_table(args, exes, results, win["client"], time.monotonic() - began, load_before)


def spread(values, fmt):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, mid, high = (fmt.format(v) for v in (min(values), statistics.median(values),
                                              max(values)))
    return mid if len(values) == 1 else f"{mid} [{low}-{high}]"


def print_table(args, exes, results, client, elapsed, load_before):
    rows = []

    def row(label, key, arch="win32", fmt="{:.0f}", scale=1.0, target=""):
        a, b = ([r[key] * scale for r in results[(name, arch)] if r.get(key) is not None]
                for name in ("gltriangles", "baseline"))
        ratio = (f"{statistics.median(a) / statistics.median(b):.2f}x"
                 if a and b and statistics.median(b) > 0 else "")
        rows.append((label, spread(a, fmt), spread(b, fmt), ratio, target))

    idle, steps = f"{args.idle:g} s", args.steps
    row("start-up to first full picture, ms", "start_ms")
    for i, what in enumerate(("launch to WM_CREATE's first GL call", "ChoosePixelFormat",
                              "SetPixelFormat, context, projection",
                              "on to the first paint (show, size)",
                              "first paint to the full picture")):
        row(f"  {what}, ms", f"split{i}_ms")
    row("  the same, 64-bit, ms", "start_ms", arch="win64")
    row(f"idle CPU over {idle} (schedstat), ms", "idle_cpu_ms", fmt="{:.2f}", target="< 20")
    row(f"idle CPU over {idle} (utime+stime), ms", "idle_ticks_ms", target="< 20")
    row(f"paints during the idle {idle}", "idle_paints")
    row(f"wineserver CPU during the idle {idle}, ms", "idle_server_ms", fmt="{:.1f}")
    row(f"resize: steps right when the next came, of {steps}", "steps_held", target=f"{steps}")
    row(f"resize: steps that showed it at all, of {steps}", "steps_shown")
    row("resize: steps that lost it again (flicker)", "steps_flickered")
    row("resize: step to correct picture, median ms", "step_median_ms", fmt="{:.1f}")
    row("resize: step to correct picture, worst ms", "step_worst_ms", fmt="{:.1f}")
    row("  step to its first glClear, median ms", "step_to_paint_ms", fmt="{:.1f}")
    row("  first glClear to correct picture, median ms", "paint_to_picture_ms", fmt="{:.1f}")
    row(f"resize: paints in {steps} steps", "resize_paints")
    row("peak RSS at first picture, MiB", "rss_first_kib", fmt="{:.1f}", scale=1 / 1024)
    row("  the same, 64-bit, MiB", "rss_first_kib", arch="win64", fmt="{:.1f}",
        scale=1 / 1024)
    row("peak RSS over the whole run, MiB", "rss_peak_kib", fmt="{:.1f}", scale=1 / 1024)
    for arch in ("win32", "win64"):
        (size_a, dlls_a), (size_b, dlls_b) = (pe_info(exes[(name, arch)], arch)
                                              for name in ("gltriangles", "baseline"))
        rows.append((f"file size {arch}, KiB", f"{size_a / 1024:.1f}", f"{size_b / 1024:.1f}",
                     f"{size_a / size_b:.2f}x", "< 24" if arch == "win32" else ""))
        rows.append((f"DLLs imported {arch}", " ".join(d.removesuffix(".DLL") for d in dlls_a),
                     " ".join(d.removesuffix(".DLL") for d in dlls_b), "", ""))

    header = ("figure", "gltriangles: median [min-max]", "baseline: median [min-max]",
              "ratio", "target")
    widths = [max(len(r[i]) for r in [header, *rows]) for i in range(len(header))]
    line = "  ".join(f"{{:<{w}}}" for w in widths)
    print(line.format(*header))
    print(line.format(*("-" * w for w in widths)))
    for r in rows:
        print(line.format(*r).rstrip())
    exits = sorted({str(r["exit"]) for runs in results.values() for r in runs})
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"\n{args.runs} runs of each, alternating; first client area {client[2]}x{client[3]}; "
          f"resize steps +{RESIZE_STEP[0]},+{RESIZE_STEP[1]} px out and back, one per "
          f"{STEP_PERIOD * 1000:.0f} ms; exit statuses {exits}")
    print(f"took {elapsed:.0f} s; load average {load_before[0]:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after; {os.cpu_count()} CPUs, "
          f"{platform.machine()}, Linux {platform.release()}, {wine}")


if __name__ == "__main__":
    main()
