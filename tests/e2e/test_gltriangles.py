"""gltriangles.exe under Wine: what only Wine shows (the loader's view of
the PE, the relay trace); what a user sees, the check program checks. Run by
pytest through CTest (CMakeLists.txt); each case gets a Case (conftest.py)."""

import itertools
import os

import pytest

from wineharness import relaylog, trace
from wineharness.prefix import pe_header, pe_links, wine_version

# What any compiler's exe must be: a GUI program with ASLR and NX (and 64-bit
# ASLR for a PE32+), importing nothing that a plain Windows lacks.
GUI = 2
ASLR_NX = {"win32": 0x0140, "win64": 0x0160}  # DYNAMIC_BASE | NX_COMPAT (| HIGH_ENTROPY_VA)
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "OPENGL32.DLL", "GLU32.DLL",
               "MSVCRT.DLL"}


# --- what the loader sees ------------------------------------------------
def test_linked_for_any_windows(built):
    """Only reads the exe: it needs no Wine, no display, no 32-bit host."""
    subsystem, flags, dlls = pe_links(built.exe)
    wanted = ASLR_NX[built.arch]
    fields = (("subsystem", GUI, subsystem),
              ("DllCharacteristics flags", hex(wanted), hex(flags & wanted)),
              ("DLLs beyond the system's", [], sorted(set(dlls) - SYSTEM_DLLS)))
    wrong = [f"{name}: expected {want}, got {got}" for name, want, got in fields if got != want]
    assert not wrong, f"{built.exe}: " + "; ".join(wrong)


# --- what the trace shows -------------------------------------------------
SETUP = ["GetDC", "GetDeviceCaps", "GetDeviceCaps", "ChoosePixelFormat", "SetPixelFormat",
         "wglCreateContext", "wglMakeCurrent", "GetClientRect", "glViewport", "glMatrixMode",
         "glLoadIdentity", "gluOrtho2D", "glMatrixMode"]
PAINT = ["BeginPaint", "glClear", "glBegin", *["glColor3f", "glVertex2f"] * 6, "glEnd",
         "glFlush", "EndPaint"]
RELEASE = ["wglMakeCurrent", "ReleaseDC", "wglDeleteContext", "PostQuitMessage"]
# Wine 8's loader starts a main exe only at its preferred base: 8.0 prints
# "wine: failed to start" for the moved copy. Wine 10 moves one (Debian 13's
# loads even the plain PE32 at 0x120000 under qemu). From 9 on, it must start.
MOVES_MAIN_EXE = (9, 0)
SHARED_DATA = 0x7FFE0000  # the page every Windows process has, where no exe can load


@pytest.mark.parametrize("copy", ["as linked", "moved"])
def test_trace(built, request, copy):
    """trace.sh's story and filter, in this session (the script itself would
    wait for the prefix that the suite holds): the life of the window, told
    the same wherever the platform loaded the exe. "moved" asks for the
    shared data page, so it runs elsewhere; "as linked" runs where its
    header asks, unless the platform moves it anyway."""
    exe = built.exe if copy == "as linked" else built.moved
    if copy == "moved":
        # On every host, before anything may skip: the copy must ask for it.
        base = pe_header(exe).base
        assert base == SHARED_DATA, f"{exe} is linked at {base:#x}, not at {SHARED_DATA:#x}"
        if wine_version() < MOVES_MAIN_EXE:
            pytest.skip("Wine %d.%d cannot start an exe away from its preferred base"
                        % wine_version())
    case = request.getfixturevalue("case")
    path = os.path.join(case.evidence_dir, "wine.log")
    with open(path, "w") as log:
        status = trace.drive_story(case.session, exe, log)
    assert status == 0
    lines = relaylog.read_log(path, exe)
    image = relaylog.image_of(exe, lines)
    if copy == "moved":
        assert image.start != SHARED_DATA, f"{exe} was loaded at its own base {SHARED_DATA:#x}"
    steps = relaylog.timeline(lines, image)
    under = {}  # message: for each of its headings, the calls straight under it
    for i, head in enumerate(steps):
        if head.kind == "message":
            inside = itertools.takewhile(lambda step: step.depth > head.depth, steps[i + 1:])
            under.setdefault(head.name, []).append(
                [step.text for step in inside if step.depth == head.depth + 1])

    def names(calls):  # a call with messages inside it also has a "returned" line
        return [text.split("(")[0] for text in calls if " returned " not in text]
    first = [next(i for i, step in enumerate(steps) if step.name == name)
             for name in ("WM_CREATE", "WM_SIZE", "WM_PAINT", "WM_DESTROY")]
    assert first == sorted(first), first
    assert [names(calls) for calls in under["WM_CREATE"]] == [SETUP]
    assert PAINT in [names(calls) for calls in under["WM_PAINT"]]
    assert len(under["WM_SIZE"]) >= 5 and all(  # each posts one paint
        names(calls) == ["glViewport", "PostMessageA"] and "WM_PAINT" in calls[1]
        for calls in under["WM_SIZE"]), under["WM_SIZE"]
    assert "SIZE_MAXIMIZED" in str(steps) and "SIZE_MINIMIZED" in str(steps)
    assert [names(calls) for calls in under["WM_DESTROY"]] == [RELEASE]
