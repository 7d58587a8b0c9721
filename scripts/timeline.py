"""scripts/trace.sh: the exe's own calls, from Wine's relay log, under its messages."""

import os
import re
import struct
import subprocess
import sys
from collections import namedtuple
from types import SimpleNamespace

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import oracle  # noqa: E402
from wineharness import WINE64, Session, arch_of, loader, lock_prefix, make_prefix, wine_env  # noqa: E402,E501

DEBUG = "+pid,+relay,+opengl"  # opengl: the float arguments, which relay cannot show

# How each call's arguments read, and "=" where the exe uses the result.
SIGNATURES = {
    "LoadIconA": "h IDI =", "LoadCursorA": "h IDC =", "GetStockObject": "STOCK =",
    "RegisterClassA": "&wc =", "CreateWindowExA": "EX s s STYLE i i i i h h h h =",
    "MessageBoxA": "h s s MB =", "ShowWindow": "h SW", "GetMessageA": "&msg h i i =",
    "TranslateMessage": "&msg", "DispatchMessageA": "&msg", "DefWindowProcA": "h WM x x =",
    "PostMessageA": "h WM x x", "PostQuitMessage": "i", "BeginPaint": "h &ps =",
    "EndPaint": "h &ps", "GetDC": "h =", "ReleaseDC": "h h", "GetDeviceCaps": "h CAPS =",
    "GetClientRect": "h &clientRect", "ChoosePixelFormat": "h PFD =", "SetPixelFormat": "h i &pfd",
    "wglCreateContext": "h =", "wglMakeCurrent": "h h", "wglDeleteContext": "h",
    "glViewport": "i i i i", "glMatrixMode": "GL", "gluOrtho2D": "f f f f", "glClear": "GL",
    "glBegin": "GL", "glColor3f": "f f f", "glVertex2f": "f f",
}
NAMES = {
    "IDI": {0x7F00: "IDI_APPLICATION"}, "IDC": {0x7F00: "IDC_ARROW"}, "STOCK": {0: "WHITE_BRUSH"},
    "EX": {1: "WS_EX_DLGMODALFRAME"}, "MB": {0x10: "MB_ICONERROR"}, "SW": {1: "SW_SHOWNORMAL"},
    "STYLE": {0x06CF0000: "WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS"},
    "CAPS": {12: "BITSPIXEL", 14: "PLANES"}, "WM": {0xF: "WM_PAINT"},
    "GL": {0x1700: "GL_MODELVIEW", 0x1701: "GL_PROJECTION", 4: "GL_TRIANGLES",
           0x4100: "GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT"},
    "PFD": {1: "PFD_DOUBLEBUFFER", 4: "PFD_DRAW_TO_WINDOW", 0x20: "PFD_SUPPORT_OPENGL"},
    "SIZE": {0: "SIZE_RESTORED", 1: "SIZE_MINIMIZED", 2: "SIZE_MAXIMIZED"},
    "SC": {0xF000: "SC_SIZE", 0xF010: "SC_MOVE", 0xF020: "SC_MINIMIZE", 0xF030: "SC_MAXIMIZE",
           0xF060: "SC_CLOSE", 0xF120: "SC_RESTORE"},
}
RESULTS = {"CreateWindowExA": "hwnd", "GetDC": "hdc", "wglCreateContext": "hglrc"}
TRACED = {"ChoosePixelFormat": "wglChoosePixelFormat", "gluOrtho2D": "glOrtho"}

RELAY = re.compile(r"(?P<thread>\w+:\w+):(?P<call>Call|Ret)\s+(?:window proc (?P<proc>\w+) "
                   r"\(hwnd=(?P<hwnd>\w+),msg=(?P<msg>[^,]+),wp=(?P<wp>\w+),lp=(?P<lp>\w+)\)"
                   r"|\w+\.(?P<name>\w+)\((?P<args>.*)\))(?: retval=(?P<retval>\w+))?"
                   r"(?: ret=(?P<ret>\w+))?$")
TRACE = re.compile(r"(?P<thread>\w+:\w+):trace:opengl:(\w+) (.*)")
Step = namedtuple("Step", "depth kind name text")  # kind: message, call or fold


def image_of(exe):  # where the PE header asks to be loaded
    with open(exe, "rb") as f:
        head = f.read(1024)
    opt = struct.unpack_from("<I", head, 0x3C)[0] + 24
    fmt, at = ("<Q", opt + 24) if head[opt + 1] == 2 else ("<I", opt + 28)  # PE32+ or PE32
    base = struct.unpack_from(fmt, head, at)[0]
    return range(base, base + struct.unpack_from("<I", head, opt + 56)[0])


def low(raw):  # signed 32 bits: 64-bit Wine shows whole registers
    return ((int(raw, 16) + (1 << 31)) & 0xFFFFFFFF) - (1 << 31)


def argument(kind, raw, text, names, frame):
    if kind in ("s", "x") or kind[0] == "&":
        return f'"{text}"' if kind == "s" else hex(int(raw, 16)) if kind == "x" else kind
    if kind == "h":
        return "NULL" if not low(raw) else names.get(low(raw), hex(int(raw, 16)))
    if kind == "PFD" and "flags" in (fields := dict(re.findall(r"(\w+) (\d+)", frame.traced))):
        flags = " | ".join(n for bit, n in NAMES["PFD"].items() if int(fields["flags"]) & bit)
        pixels = "PFD_TYPE_RGBA" if fields["type"] == "0" else "PFD_TYPE_COLORINDEX"
        return f"&pfd{{{flags}, {pixels}, {fields['color']} colour bits}}"
    if kind == "WM":
        return NAMES["WM"].get(low(raw), frame.message)
    return NAMES[kind].get(low(raw), hex(low(raw))) if kind in NAMES else str(low(raw))


def call_text(frame, names):
    kinds = SIGNATURES.get(frame.name, "").replace("=", "").split()
    floats = iter(f"{float(n):g}" for n in re.findall(r"-?\d+\.\d+", frame.traced))
    return f"{frame.name}(" + ", ".join(
        next(floats, "?") if kind == "f" else argument(kind, raw, text, names, frame)
        for kind, (raw, text) in zip(kinds, frame.args)) + ")"


def heading(name, wp, lp):
    x, y = (v - (v >> 15 << 16) for v in (lp & 0xFFFF, lp >> 16 & 0xFFFF))
    return {"WM_SIZE": f"WM_SIZE {x} x {y} ({NAMES['SIZE'].get(wp, wp)})",
            "WM_MOVE": f"WM_MOVE to {x}, {y}",
            "WM_SYSCOMMAND": f"WM_SYSCOMMAND {NAMES['SC'].get(wp & 0xFFF0, hex(wp))}",
            }.get(name, name)


def timeline(lines, image):
    """Steps from a DEBUG log; the main thread makes the first call from the image."""
    steps, stack, names, thread = [], [], {low(hex(image.start)): "hInstance"}, None

    def emit(depth, kind, name, text):
        for frame in stack:  # a call's line comes before what happens inside it
            if not isinstance(frame, str) and not frame.shown:
                frame.shown = True
                steps.append(Step(frame.depth, "call", frame.name, call_text(frame, names)))
        steps.append(Step(depth, kind, name, text))

    for line in lines:
        m, top = RELAY.match(line.rstrip("\n")), stack[-1] if stack else None
        if not m:
            m = TRACE.match(line)
            if m and m["thread"] == thread and hasattr(top, "traced") and not top.traced and \
                    m[2] in (top.name, TRACED.get(top.name)):
                top.traced = m[3]
            continue
        ours = m["ret"] is not None and int(m["ret"], 16) in image
        thread = thread or (m["thread"] if ours and m["call"] == "Call" else None)
        if m["thread"] != thread:
            continue
        if m["proc"] and int(m["proc"], 16) in image:
            if m["call"] == "Call":
                names.setdefault(low(m["hwnd"]), "hwnd")
                emit(len(stack), "message", m["msg"],
                     heading(m["msg"], int(m["wp"], 16), int(m["lp"], 16)))
                stack.append(m["msg"])
            elif stack:
                stack.pop()
        # Wine 10's user32 forwards DefWindowProcA to ntdll, as Windows does.
        name = {"NtdllDefWindowProc_A": "DefWindowProcA"}.get(m["name"], m["name"])
        if name and m["call"] == "Call" and (ours or isinstance(top, str) and
                                               name == "DefWindowProcA"):  # a jump to it
            stack.append(SimpleNamespace(
                name=name, ret=m["ret"], depth=len(stack), shown=False, traced="",
                args=re.findall(r'(\w+)(?: L?"((?:[^"\\]|\\.)*)")?', m["args"]),
                message=next((f for f in reversed(stack) if isinstance(f, str)), None)))
        elif name and hasattr(top, "ret") and (top.name, top.ret) == (name, m["ret"]):
            frame, value = stack.pop(), low(m["retval"])
            if frame.name in RESULTS and value:  # NULL is no handle
                names.setdefault(value, RESULTS[frame.name])
            result = names.get(value, hex(value) if value > 0xFFF else value)
            uses = "=" in SIGNATURES.get(frame.name, "")
            if not frame.shown:
                emit(frame.depth, "call", frame.name,
                     call_text(frame, names) + (f" = {result}" if uses else ""))
            elif uses:
                emit(frame.depth, "call", frame.name, f"{frame.name} returned {result}")
    return steps


def fold(steps):
    """Runs of like messages (the same calls, such as the harness's hit tests) once."""
    out, i = [], 0
    while i < len(steps):
        end = i + 1
        while end < len(steps) and steps[end].depth > steps[i].depth:
            end += 1
        block, more, after = steps[i:end], 0, lambda: steps[end + len(block):][:1]
        while block[0].kind == "message" and [s[:3] for s in steps[end:end + len(block)]] == \
                [s[:3] for s in block] and all(s.depth <= block[0].depth for s in after()):
            end, more = end + len(block), more + 1
        out += [block[0], *fold(block[1:])]
        if more:
            out.append(block[0]._replace(kind="fold", text=f"... and {more} more like it"))
        i = end
    return out


def relay_only_the_exe(exe, env):  # the four DLLs, and only calls that EXE makes
    for name, value in (("RelayInclude", "user32.*;gdi32.*;opengl32.*;glu32.*;"
                                         "ntdll.NtdllDefWindowProc_A"),
                        ("RelayFromInclude", os.path.basename(exe))):
        subprocess.run([WINE64, "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", name, "/d",
                        value, "/f"], env=env, check=True, stdout=subprocess.DEVNULL)


def story(s, exe, log):
    """The e2e suite's story with Wine's log to LOG; returns the exit status."""
    relay_only_the_exe(exe, s.env)
    app = s.start(exe, log=log, WINEDEBUG=DEBUG)
    # Finding the caption buttons takes a thousand hit tests: only when needed.
    s.wait(lambda: oracle.require_shown(s.window(buttons=False)), "the active window", 60.0)
    win = s.window()
    s.wait(lambda: oracle.require_picture(s.grab(), win, win), "the first picture")
    s.probe("dragfull")
    # The drag first: in Wine 10 a drag just after a restore gets no mouse input.
    s.press(*win["grip"])
    s.move(win["grip"][0] + 30, win["grip"][1] + 20)
    grown = (*win["window"][:2], win["window"][2] + 30, win["window"][3] + 20)
    s.until(lambda w: w["window"] == grown, "the drag", buttons=False)
    s.release()
    s.until(lambda w: w["movesize"] == (0,), "the end of the sizing loop", buttons=False)
    win = s.window()
    s.click(*win["maxbutton"])
    s.until(lambda w: w["state"] == (1, 0, 1), "the window to be maximised", buttons=False)
    s.click(*s.window()["maxbutton"])
    s.until(lambda w: w["window"] == win["window"], "the window to be restored", buttons=False)
    s.click(*win["minbutton"])
    s.until(lambda w: w["state"] == (1, 1, 0), "the window to be minimised", buttons=False)
    s.click(*s.window()["minbutton"])  # a minimised window's restore button
    s.until(lambda w: w["window"] == win["window"], "the window to be restored", buttons=False)
    s.click(*win["closebutton"])
    return s.wait_exit(app)


def main(exe, probe64, raw=False):
    path = os.path.join(ROOT, "build", f"trace-{arch_of(exe)}.log")
    with open(path, "w") as log:
        if not os.environ.get("DISPLAY"):
            with Session(arch_of(exe), os.path.join(ROOT, "build", "trace"), probe64) as s:
                status = story(s, exe, log)
        else:  # on your display, driven by you
            with lock_prefix():
                make_prefix()
                relay_only_the_exe(exe, wine_env())
                status = subprocess.call([loader(exe), exe], env=wine_env(WINEDEBUG=DEBUG),
                                         stderr=log)
    with open(path, errors="replace") as log:
        steps = fold(timeline(log, image_of(exe)))
    for number, step in enumerate(steps, 1):
        print(f"{number:4}  {'  ' * step.depth}{step.text}")
    print(f"{len(steps) + 1:4}  exit status {status}")
    print(f"Wine's whole log: {path}") if raw else os.remove(path)
    return status


if __name__ == "__main__":
    sys.exit(main(*[a for a in sys.argv[1:] if a != "--raw"], raw="--raw" in sys.argv))
