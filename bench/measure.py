"""One measured launch under the end-to-end harness, judged by its oracle.
The screen is read straight from Xvfb's memory-mapped framebuffer: checking
the oracle's ~6000 samples there takes a millisecond, with no X round trip."""

import mmap
import os
import re
import shutil
import statistics
import struct
import tempfile
import time

from PIL import Image
from Xlib import X, XK, display as xdisplay
from Xlib.ext import xtest

from bench.oracle import TOLERANCE, client_triangles, colour_at, expected_picture
from wineharness.prefix import pe_links
from wineharness.session import Session
from wineharness.wait import NotYet, wait_for

RESIZE_STEP = (5, 3)     # pixels per step while growing; shrinking mirrors it
STEP_PERIOD = 0.05       # seconds per resize step, a brisk drag
START_TIMEOUT = 30.0
POLL = 0.001
WHITE = (255, 255, 255)


class BenchSession(Session):
    """The harness's session, as fast as it goes (MIT-SHM on, heap as it
    comes), with the X screen mapped into our memory, input through XTest,
    and each launch's part of Wine's log at hand."""

    def __init__(self, evidence_dir, check, prefix):
        # The framebuffer in a file, and no cursor, which Xvfb would draw
        # into it right where the resize drags the sizing corner.
        self.fbdir = tempfile.mkdtemp(prefix="gltriangles-bench-")
        super().__init__(evidence_dir, check, prefix=prefix, grey_unwritten_memory=False,
                         xvfb_args=("-fbdir", self.fbdir, "-nocursor"))

    def __enter__(self):
        super().__enter__()
        try:
            self.x, self.geometry = xdisplay.Display(self.env["DISPLAY"]), None
            with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as f:
                self.fb = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
            # An XWD file: big-endian header, colour map, then the pixels.
            fields = struct.unpack(">25I", self.fb[:100])
            if fields[11] != 32 or fields[7] != 0:
                raise RuntimeError("expected 32-bit little-endian pixels")
            self.fb_base, self.fb_stride = fields[0] + 12 * fields[19], fields[12]
            # opengl32 traces every GL call it passes on: its glClear lines
            # count the paints from outside the program, and their time
            # stamps show where the start-up goes.
            self.env["WINEDEBUG"] = "-all,+timestamp,trace+opengl"
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if hasattr(self, "fb"):
            self.fb.close()
        if hasattr(self, "x"):
            self.x.close()
        super().__exit__(*exc)
        shutil.rmtree(self.fbdir, ignore_errors=True)

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
        """The Wine desktop as the X server shows it, as an RGB image."""
        x, y, w, h = self.desktop()
        raw = self.x.screen().root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (w, h), raw.data, "raw", "BGRX")

    def send_input(self, kind, detail=0, **where):
        """One X input event through XTest, as if from a real device."""
        xtest.fake_input(self.x, kind, detail, **where)
        self.x.sync()

    def alt_f4(self):
        codes = [self.x.keysym_to_keycode(XK.string_to_keysym(k)) for k in ("Alt_L", "F4")]
        for code in codes:
            self.send_input(X.KeyPress, code)
        for code in reversed(codes):
            self.send_input(X.KeyRelease, code)

    def launch(self, exe):
        self.log.flush()
        self.trace_from = os.path.getsize(self.log.name)
        return self.start(exe)

    def trace(self):
        """Wine's log lines since the last launch."""
        with open(self.log.name, errors="replace") as f:
            f.seek(self.trace_from)
            return f.readlines()

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


class Pictures:
    """Expected pictures as (framebuffer offset, r, g, b) samples, worked
    out once per client size: the oracle over the client area, plus the
    client's last column and row and the outer line of the window's frame,
    which tell the new size from the old one where the client is one colour
    all over (the baseline's white)."""

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
            if session.fb[at:at + 3] == session.fb[at + 4:at + 7]:
                raise NotYet("no frame yet")

        wait_for(drawn, "the window's frame")
        self.frame = tuple(session.fb[at + 2 - i] for i in range(3))
        self.cache = {}

    def offset(self, x, y):
        """Where client pixel (x, y) sits in the framebuffer."""
        return self.base + (self.y + y) * self.stride + 4 * (self.x + x)

    def get(self, name, w, h):
        """The full picture's samples, and only the frame line and the
        client's last column and row: cheap enough to watch for a flicker
        between full checks."""
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
        return self.cache[key]


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


# Wine's +timestamp is NtGetTickCount(): the raw monotonic clock in whole
# milliseconds, in a ULONG, so it starts again from 0 every 2**32 ms (49.7 days).
TICK_WRAP_S = 2**32 / 1000


def raw_clock():
    """Seconds on the raw monotonic clock, which Wine's tick count counts too;
    whole, so that differences stay right across the tick count's wrap."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def as_stamped(t):
    """A raw_clock() time as Wine stamps its trace lines: modulo 2**32 ms."""
    return t % TICK_WRAP_S


def gl_call_times(lines, call=None):
    """When the program entered GL calls, from Wine's +timestamp trace, in
    seconds modulo 2**32 ms (see as_stamped) with millisecond steps: a list
    for one call, or each call's first time."""
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
    marks = [as_stamped(start)] + [first.get(k) for k in (
        "wglChoosePixelFormat", "wglChoosePixelFormat returning", "wglMakeCurrent",
        "glClear")] + [as_stamped(shown)]
    if None in marks:
        return {}
    return {f"split{i}_ms": (b - a) * 1000 for i, (a, b) in enumerate(zip(marks, marks[1:]))}


def one_run(s, pictures, name, exe, arch, grip, idle_s, steps):
    """Launch exe, time its first picture, then idle, resize and close it."""
    out = {}
    first = pictures.get(name, pictures.w0, pictures.h0)[0]
    start = raw_clock()
    proc = s.launch(exe)
    if s.wait_shown(first, START_TIMEOUT) is None:
        shot = os.path.join(s.evidence_dir, f"no-picture-{name}-{arch}.png")
        s.grab().save(shot)
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
    # XTest keys go to whichever window has the focus, and right after the
    # first picture that need not be this one yet.
    s.shown_window(proc)
    s.alt_f4()
    try:
        out["exit"] = s.wait_exit(proc, 10)
    except AssertionError:
        proc.kill()  # the figures stand; the table says it had to be killed
        proc.wait()
        out["exit"] = "killed"
    return out


def resize(s, pictures, name, grip, steps):
    """Drag the sizing corner (GRIP, on the X screen) out and back in
    `steps` steps, one every STEP_PERIOD with the button held, and watch the
    client area all through each step: when it first shows the picture at
    its new size, whether it loses it again, and whether it shows it when
    the next step comes."""
    gx, gy = grip
    dx, dy = RESIZE_STEP
    half = steps // 2
    offsets = [k if k <= half else 2 * half - k for k in range(1, steps + 1)]
    # Work out every expected picture first, so that none of it is timed.
    sizes = [(pictures.w0 + n * dx, pictures.h0 + n * dy) for n in offsets]
    wanted = [pictures.get(name, *size) for size in sizes]
    paints0 = s.paints() if name == "gltriangles" else None
    # Straight through XTest, not s.move: the grip is in X screen pixels.
    s.send_input(X.MotionNotify, x=gx, y=gy)
    s.send_input(X.ButtonPress, 1)
    time.sleep(STEP_PERIOD)
    starts, firsts, held, flickered = [], [], 0, 0
    for n, (picture, edges) in zip(offsets, wanted):
        s.send_input(X.MotionNotify, x=gx + n * dx, y=gy + n * dy)
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
    s.send_input(X.ButtonRelease, 1)
    s.wait_shown(pictures.get(name, pictures.w0, pictures.h0)[0], 1.0)
    shown_ms = [f * 1000 for f in firsts if f is not None]
    out = {"steps_held": held, "steps_shown": len(shown_ms), "steps_flickered": flickered,
           "step_median_ms": statistics.median(shown_ms) if shown_ms else None,
           "step_worst_ms": max(shown_ms) if shown_ms else None}
    if paints0 is not None:
        out["resize_paints"] = s.paints() - paints0
        # Split each step at its first glClear, by the trace's time stamps.
        clears = gl_call_times(s.trace(), "glClear")
        stamped = [as_stamped(start) for start in starts]
        to_paint, to_picture = [], []
        for start, end, first in zip(stamped, stamped[1:] + [float("inf")], firsts):
            clear = next((t for t in clears if start <= t < end), None)
            if clear is not None and first is not None:
                to_paint.append((clear - start) * 1000)
                to_picture.append(first * 1000 - to_paint[-1])
        if to_paint:
            out["step_to_paint_ms"] = statistics.median(to_paint)
            out["paint_to_picture_ms"] = statistics.median(to_picture)
    return out


def pe_info(exe):
    return os.path.getsize(exe), pe_links(exe).dlls
