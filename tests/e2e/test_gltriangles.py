"""gltriangles.exe under Wine, used the way a person uses it. Run by pytest
through CTest (CMakeLists.txt); each case gets a Case (conftest.py)."""

import itertools
import os
import shutil

import pytest

from wineharness import timeline
from wineharness.oracle import off, require_picture
from wineharness.prefix import pe_header, pe_links, wine_version, windows_path
from wineharness.session import save_png
from wineharness.wait import NotYet, wait_for

STYLE = 0x06CF0000        # WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS
WS_VISIBLE = 0x10000000
WS_EX_DLGMODALFRAME = 0x1
CLASS_STYLE = 0x23        # CS_VREDRAW | CS_HREDRAW | CS_OWNDC
# What any compiler's exe must be: a GUI program with ASLR and NX (and 64-bit
# ASLR for a PE32+), importing nothing that a plain Windows lacks.
GUI = 2
ASLR_NX = {"win32": 0x0140, "win64": 0x0160}  # DYNAMIC_BASE | NX_COMPAT (| HIGH_ENTROPY_VA)
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "OPENGL32.DLL", "GLU32.DLL",
               "MSVCRT.DLL"}


def launch(case, picture=True, buttons=False):
    """Starts the exe; waits for its window, active, with where its caption
    buttons and sizing corner are if asked, and unless told not to, its
    first picture."""
    app = case.s.start(case.exe)
    case.creation = win = case.s.shown_window(app, hit_tests=buttons)
    if picture:
        case.first_picture = assert_picture(case, win, "the first picture")
    return app, win


def assert_picture(case, win, what):
    last = []

    def attempt():
        last[:] = [case.s.grab()]
        return require_picture(last[0], win, case.creation)
    try:
        return wait_for(attempt, what)
    except AssertionError as failure:
        if not last:  # not even a grab: nothing to keep
            raise
        path = save_png(last[0], os.path.join(case.evidence_dir, "wrong-picture.png"))
        raise AssertionError(f"{failure}\nscreenshot kept at {path}") from None


def assert_fails_with_message_box(case, fault, text):
    s = case.s
    # A copy of the exe, with the fault's glu32.dll beside it.
    exe = shutil.copy(case.exe, case.evidence_dir)
    shutil.copy(case.fault, case.evidence_dir)
    app = s.start(exe, GLTRIANGLES_E2E_FAULT=fault)

    def attempt():
        box = s.probe("msgbox")
        if not box or box["state"] != "1 1":
            raise NotYet(f"no active message box yet: {box}")
        return box
    box = wait_for(attempt, "the error message box", 40.0)
    assert (box["title"], box["text"], box["buttons"].strip(), box["owner"]) == \
        ("Error", text, "OK", "0")
    assert box["image"].lower() == windows_path(exe).lower(), "the box is not the exe's"
    assert s.probe("window") is None, "a main window exists too"
    assert_error_icon(case, box)

    s.key("Return")
    assert s.wait_exit(app) == 1


def assert_error_icon(case, box):
    """The box shows the platform's error icon, pixel for pixel."""
    x, y, w, h = map(int, box["icon"].split())
    pixels = box["iconpixels"]
    shot = case.s.grab()
    opaque = [(x + i % w, y + i // w, tuple(bytes.fromhex(pixels[6 * i:6 * i + 6])))
              for i in range(w * h) if pixels[6 * i] != "."]
    assert len(opaque) > w * h // 4, "the expected icon is mostly see-through"
    seen = ((px, py, want, shot.getpixel((px, py))) for px, py, want in opaque)
    wrong = [(px, py, want, got) for px, py, want, got in seen if off(want, got)]
    if wrong:
        path = save_png(shot, os.path.join(case.evidence_dir, "wrong-icon.png"))
        raise AssertionError(f"{len(wrong)} of {len(opaque)} icon pixels differ, first "
                             f"(x, y, expected, actual): {wrong[:4]}\nscreenshot kept at {path}")


# --- what a user sees ---------------------------------------------------
def test_linked_for_any_windows(built):
    """Only reads the exe: it needs no Wine, no display, no 32-bit host."""
    subsystem, flags, dlls = pe_links(built.exe)
    wanted = ASLR_NX[pe_header(built.exe)[0]]
    fields = (("subsystem", GUI, subsystem),
              ("DllCharacteristics flags", hex(wanted), hex(flags & wanted)),
              ("DLLs beyond the system's", [], sorted(set(dlls) - SYSTEM_DLLS)))
    wrong = [f"{name}: expected {want}, got {got}" for name, want, got in fields if got != want]
    assert not wrong, f"{built.exe}: " + "; ".join(wrong)


def test_window(case):
    _, win = launch(case, picture=False)
    assert win["window"] == (0, 0, 400, 150)
    assert hex(win["style"] & ~WS_VISIBLE) == hex(STYLE)
    assert win["exstyle"] & WS_EX_DLGMODALFRAME, hex(win["exstyle"])
    assert hex(win["classstyle"]) == hex(CLASS_STYLE)
    assert win["state"] == (1, 0, 0)  # shown normally


def test_picture(case):
    _, win = launch(case)
    # For people: the window as it first appears.
    save_png(case.first_picture, os.path.join(case.evidence_dir, "screenshot.png"),
             win["window"])


def test_maximise_restore(case):
    s = case.s
    _, win = launch(case, buttons=True)
    s.click(*win["maxbutton"])
    big = s.until(lambda w: w["state"] == (1, 0, 1), "the window to be maximised",
                  hit_tests=True)
    assert big["client"][2] > win["client"][2] and big["client"][3] > win["client"][3], big
    assert_picture(case, big, "the maximised picture")

    s.click(*big["maxbutton"])  # now the restore button
    back = s.until(lambda w: w["state"] == (1, 0, 0), "the window to be restored")
    assert back["window"] == win["window"]
    assert_picture(case, back, "the restored picture")


def test_live_resize(case):
    s = case.s
    _, win = launch(case, buttons=True)
    s.probe("dragfull")
    x, y = win["grip"]
    wx, wy, ww, wh = win["window"]
    s.press(x, y)
    try:
        for dx, dy in ((40, 20), (150, 90), (330, 260), (100, 10), (-60, -25)):
            s.move(x + dx, y + dy)
            step = s.until(
                lambda w: w["window"] == (wx, wy, ww + dx, wh + dy) and w["movesize"] == 1,
                f"the window to follow the drag by {dx:+}, {dy:+} in the sizing loop")
            assert_picture(case, step, f"the picture while dragging by {dx:+}, {dy:+}")
    finally:
        s.release()
    s.until(lambda w: w["movesize"] == 0, "the end of the sizing loop")


def test_minimise_restore(case):
    s = case.s
    app, win = launch(case, buttons=True)
    s.click(*win["minbutton"])
    icon = s.until(lambda w: w["state"] == (1, 1, 0), "the window to be minimised",
                   hit_tests=True)
    assert app.poll() is None, "the process ended when minimised"
    s.click(*icon["minbutton"])  # a minimised window's restore button
    back = s.until(lambda w: w["state"] == (1, 0, 0), "the window to be restored")
    assert app.poll() is None, "the process ended"
    assert_picture(case, back, "the picture after minimising and restoring")


def test_close_button(case):
    app, win = launch(case, picture=False, buttons=True)
    case.s.click(*win["closebutton"])
    assert case.s.wait_exit(app) == 0


def test_alt_f4(case):
    app, _ = launch(case, picture=False)
    case.s.key("alt+F4")
    assert case.s.wait_exit(app) == 0


def test_register_failure(case):
    assert_fails_with_message_box(
        case, "register", "Error - can't register window class...\\rProgram terminated")


def test_create_failure(case):
    assert_fails_with_message_box(
        case, "create", "Error - can't create main window...\\rProgram terminated")


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
        base = pe_header(exe)[1]
        assert base == SHARED_DATA, f"{exe} is linked at {base:#x}, not at {SHARED_DATA:#x}"
        if wine_version() < MOVES_MAIN_EXE:
            pytest.skip("Wine %d.%d cannot start an exe away from its preferred base"
                        % wine_version())
    case = request.getfixturevalue("case")
    path = os.path.join(case.evidence_dir, "wine.log")
    with open(path, "w") as log:
        status = timeline.story(case.s, exe, log)
    assert status == 0
    lines = timeline.read_log(path)
    image = timeline.image_of(exe, lines)
    if copy == "moved":
        assert image.start != SHARED_DATA, f"{exe} was loaded at its own base {SHARED_DATA:#x}"
    steps = timeline.timeline(lines, image)
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
