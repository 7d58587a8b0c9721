"""The exit status of run.sh and trace.sh (wineharness.__main__.run and
trace.main) for each way a run ends, with a stand-in for Wine: no Wine,
no X server. Both may touch their logs only while they hold the prefix's
lock, which another run may hold with its live log."""

import contextlib
import functools
import io
import os
import tempfile
from collections import namedtuple

import pytest

from PIL import Image

from wineharness import __main__ as harness, diagnose, prefix, relaylog, trace
from test_diagnosis import FALLBACK, NO_GL, NO_GLU, check

# What Wine logs, whether a window comes and with which picture, and the
# exe's exit status (where it gets as far as exiting).
Outcome = namedtuple("Outcome", "log window picture status")
LOADED = ('0024:trace:loaddll:build_module Loaded L"Z:\\\\work\\\\gltriangles.exe" at 00400000: '
          'native')
LIVE = "0024:err:module:another run's live log\n"
OPENGL = "Wine could not initialise OpenGL"
ERRORS = diagnose.errors  # the real one

# What happened, on your display or headless -> (exit status, a cause named,
# Wine's lines shown). On your display the picture is not judged.
ENDINGS = [
    ("right picture, exit 0", False, Outcome([], True, "right", 0), (0, False, False)),
    ("right picture, exit 0, Mesa's fallback", False, Outcome(FALLBACK, True, "right", 0),
     (0, False, False)),
    ("wrong picture, exit 0", False, Outcome([], True, "wrong", 0), (1, False, False)),
    ("wrong picture, Mesa's fallback", False, Outcome(FALLBACK, True, "wrong", 0), (1, True, True)),
    ("no window", False, Outcome(NO_GLU, False, None, None), (1, False, True)),
    ("right picture, exit 1", False, Outcome([], True, "right", 1), (1, False, False)),
    ("Wine's GL error, no window", False, Outcome(NO_GL, False, None, None), (1, True, True)),
    ("your display, exit 0", True, Outcome([], None, None, 0), (0, False, False)),
    ("your display, exit 0, Mesa's fallback", True, Outcome(FALLBACK, None, None, 0),
     (0, False, False)),
    ("your display, exit 1, Mesa's fallback", True, Outcome(FALLBACK, None, None, 1),
     (1, False, True)),
    ("your display, exit 1, Wine's GL error", True, Outcome(NO_GL, None, None, 1), (1, True, True)),
]


class StandIn:
    """Wine and its prefix as they would behave for OUTCOME; the lock counts
    its holders and, when first taken, checks that the LIVE logs of the run
    that held it are as that run left them."""

    def __init__(self, outcome, live):
        self.outcome, self.live, self.held = outcome, live, 0

    @contextlib.contextmanager
    def lock_prefix(self):
        for path in self.live:
            with open(path) as f:
                assert f.read() == LIVE, f"{path} was written before the prefix's lock was taken"
        self.live, self.held = [], self.held + 1  # the other run has ended now
        try:
            yield
        finally:
            self.held -= 1

    def errors(self, path, since=0):
        assert self.held, f"{path} was read without the prefix's lock"
        return ERRORS(path, since)

    def play(self, log):
        log.write("".join(f"{line}\n" for line in [LOADED, *self.outcome.log]))
        log.flush()

    def run_on_display(self, exe, log=None, before=None, **env):
        with self.lock_prefix():
            self.play(log)
            return self.outcome.status

    def check(self, mode, *paths):
        """The check program's exit status in MODE (check.cpp), having
        written what it saw where `run` asks."""
        if not self.outcome.window:
            return prefix.FAILED
        if mode == "run":
            Image.new("RGB", (392, 123), (255, 0, 0)).save(paths[1][2:].replace("\\", "/"))
        if self.outcome.picture != "right":
            return prefix.WRONG_PICTURE if mode == "run" else prefix.FAILED
        return self.outcome.status


class Session:
    """The stand-in's session, which takes the prefix's lock itself, as the
    real one does."""

    def __init__(self, wine, evidence_dir, check):
        self.wine, self.evidence_dir, self.check_exe, self.env = wine, evidence_dir, check, {}

    def __enter__(self):
        self.lock = self.wine.lock_prefix()
        self.lock.__enter__()
        self.log = open(os.path.join(self.evidence_dir, "wine.log"), "w")
        return self

    def __exit__(self, *exc):
        self.log.close()
        self.lock.__exit__(*exc)

    def start(self, check, *args, log=None, own_output=False, cwd=None, **env):
        self.wine.play(log or self.log)
        return args

    def wait_exit(self, args, timeout):
        return self.wine.check(*args)


def ended(root, command, on_display, outcome):
    """(exit status, a cause named, Wine's lines shown) of COMMAND for
    OUTCOME, with ROOT as the source tree."""
    wine = StandIn(outcome, [os.path.join(root, "build", "run", "wine.log"),
                             os.path.join(root, "build", "trace-win32.log")])
    for path in wine.live:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(LIVE)
    os.makedirs(os.path.join(root, "build", "trace"))
    out = io.StringIO()
    with pytest.MonkeyPatch.context() as mp:
        for module in (harness, trace):
            for name, value in (("ROOT", root), ("lock_prefix", wine.lock_prefix),
                                ("run_on_display", wine.run_on_display),
                                ("Session", functools.partial(Session, wine))):
                mp.setattr(module, name, value)
        mp.setattr(prefix, "arch", lambda exe: "win32")
        mp.setattr(relaylog, "pe_header", lambda exe: prefix.PeHeader("win32", 0x400000, 0x10000))
        mp.setattr(trace, "relay_only_the_exe", lambda exe, env: None)
        mp.setattr(diagnose, "errors", wine.errors)
        if on_display:
            mp.setenv("DISPLAY", ":57")
        else:
            mp.delenv("DISPLAY", raising=False)
        try:
            with contextlib.redirect_stderr(out), contextlib.redirect_stdout(out):
                if command == "run":
                    status = harness.run("tree")
                else:
                    status = trace.main("tree")
        except AssertionError as failure:
            return f"failed: {failure}"
    return status, OPENGL in out.getvalue(), "Wine's errors in this run" in out.getvalue()


def test_exit_status(tmp_path):
    # Where the trace's story fails, it does not say whether the picture had
    # come: only Wine's own line names OpenGL there.
    trace = {"wrong picture, Mesa's fallback": (1, False, True)}
    check([(f"{command}: {what}", command, on_display, outcome,
            trace.get(what, expected) if command == "trace" else expected)
           for command in ("run", "trace") for what, on_display, outcome, expected in ENDINGS],
          lambda *given: ended(tempfile.mkdtemp(dir=tmp_path), *given))
