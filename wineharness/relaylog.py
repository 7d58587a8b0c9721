"""Wine's relay log read into steps: the exe's own calls, under the
messages its window procedure handles (scripts/trace.sh prints them)."""

import os
import re
from collections import namedtuple
from types import SimpleNamespace

from .prefix import pe_header

# opengl: the float arguments, which relay cannot show; loaddll: where the
# exe was loaded, which need not be where its header asks to be.
DEBUG = "+pid,+relay,+opengl,+loaddll"

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
LOADED = re.compile(r':trace:loaddll:\w+ Loaded L"(?P<path>[^"]*)" at (?P<base>\w+): native')
Step = namedtuple("Step", "depth kind name text")  # kind: message, call or fold


def loaded(exe, lines):
    """The match of Wine's line, among LINES, that says where EXE was loaded
    (its pid prefix and base)."""
    name = os.path.basename(exe).lower()
    for line in lines:
        m = LOADED.search(line)
        if m and m["path"].lower().endswith("\\\\" + name):
            return m
    raise ValueError(f"the log says nowhere where {name} was loaded")


def image_of(exe, lines):
    """The addresses EXE took in the run that Wine's log LINES tell of."""
    base = int(loaded(exe, lines)["base"], 16)
    return range(base, base + pe_header(exe).size)


def signed32(raw):  # 64-bit Wine shows whole registers
    return ((int(raw, 16) + (1 << 31)) & 0xFFFFFFFF) - (1 << 31)


def argument(kind, raw, text, names, frame):
    if kind in ("s", "x") or kind[0] == "&":
        return f'"{text}"' if kind == "s" else hex(int(raw, 16)) if kind == "x" else kind
    if kind == "h":
        return "NULL" if not signed32(raw) else names.get(signed32(raw), hex(int(raw, 16)))
    if kind == "PFD" and "flags" in (fields := dict(re.findall(r"(\w+) (\d+)", frame.traced))):
        flags = " | ".join(n for bit, n in NAMES["PFD"].items() if int(fields["flags"]) & bit)
        pixels = "PFD_TYPE_RGBA" if fields["type"] == "0" else "PFD_TYPE_COLORINDEX"
        return f"&pfd{{{flags}, {pixels}, {fields['color']} colour bits}}"
    if kind == "WM":
        return NAMES["WM"].get(signed32(raw), frame.message)
    if kind in NAMES:
        return NAMES[kind].get(signed32(raw), hex(signed32(raw)))
    return str(signed32(raw))


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
    steps, stack, names, thread = [], [], {signed32(hex(image.start)): "hInstance"}, None

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
                names.setdefault(signed32(m["hwnd"]), "hwnd")
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
            frame, value = stack.pop(), signed32(m["retval"])
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


def read_log(path, exe):
    """The lines of EXE's own process in the log at PATH: the check program
    that drives it logs there too, and its calls come from the same address."""
    with open(path, errors="replace") as f:
        lines = f.readlines()
    pid = loaded(exe, lines).string.split(":")[0]
    return [line for line in lines if line.startswith(f"{pid}:")]
