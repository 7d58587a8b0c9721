"""What a failed run says about its cause (wineharness/diagnose.py), from
real launches of the exe on the session's X server."""

import os

import pytest

from wineharness import diagnose
from wineharness.prefix import arch as arch_of
from wineharness.wait import NotYet, wait_for


def test_cause_from_wine_errors(case):
    """Wine's error channel, kept in the session's log, names no cause for a
    plain launch and names OpenGL where no Mesa driver loads, from Wine's
    own line. (With only the exe lacking GL, this Wine never shows its
    window: the cause is all that a user would have.)"""
    session, arch = case.session, arch_of(case.exe)

    def cause_since(since):
        lines = diagnose.errors(session.log.name, since)
        return diagnose.cause(lines, arch), lines

    # Both launches run on until the case's end ends them.
    since = os.path.getsize(session.log.name)
    session.shown_window(session.start(case.exe))  # past WM_CREATE, which makes the context
    assert cause_since(since)[0] is None, cause_since(since)[1]

    # No Mesa driver for the exe alone: a Gallium driver that does not exist
    # fails on Debian 12's Mesa and 13's alike (13's ignores a
    # LIBGL_DRIVERS_PATH that only the exe has).
    since = os.path.getsize(session.log.name)
    session.start(case.exe, GALLIUM_DRIVER="nonexistent")

    def named():
        why, lines = cause_since(since)
        if why is None:
            raise NotYet(f"Wine's errors so far: {lines}")  # Mesa's come first
        return why, lines
    why, lines = wait_for(named, "Wine's errors to name the cause", 40.0)
    assert why.startswith("Wine could not initialise OpenGL"), why
    assert "libgl1-mesa-dri" in why and ("libgl1-mesa-dri:i386" in why) == (arch == "win32"), why
    # Wine's own line names it, not Mesa's: they come too on a display whose
    # first driver fails before one that draws.
    wine = [line for line in lines if ":err:wgl:" in line]
    mesa = [line for line in lines if line.startswith(("libGL error:", "MESA-LOADER:"))]
    assert diagnose.cause(wine, arch) == why, lines
    assert diagnose.cause(mesa, arch) is None, mesa


@pytest.mark.parametrize("which", ["none there", "the session's"])
def test_display_that_cannot_open(case, monkeypatch, which):
    # unix: only, where ":9999" would try TCP port 15999 too
    display = "unix:9999" if which == "none there" else case.session.env["DISPLAY"]
    monkeypatch.setenv("DISPLAY", display)
    why = diagnose.cannot_open_display()
    if which == "the session's":
        assert why is None
    else:
        assert why and f"DISPLAY={display} " in why and "unset DISPLAY" in why, why
