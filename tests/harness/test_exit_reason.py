"""Session.until, when the exe exits before what it waits for: the failure
carries Wine's error lines from that launch alone, and where the log is. A
shell script stands in for Wine's loader: no Wine, no X."""

import os
import shlex

from wineharness import session

BEFORE = "0024:err:module:import_dll an earlier launch's error"
SAID = ['wine: failed to start L"Z:\\\\gltriangles.exe"', "0024:err:start:fatal_error oops"]


def test_exit_before_window(tmp_path, monkeypatch):
    wine = tmp_path / "wine"
    wine.write_text("#!/bin/sh\nprintf '%s\\n' " + " ".join(map(shlex.quote, SAID))
                    + " 'a plain line' >&2\nexit 7\n")
    wine.chmod(0o755)
    monkeypatch.setattr(session, "loader", lambda exe: str(wine))
    s = session.Session(tmp_path, "check.exe")
    s.env = dict(os.environ)
    with open(tmp_path / "wine.log", "w") as s.log:
        s.log.write(BEFORE + "\n")
        s.log.flush()
        app = s.start("gltriangles.exe")
        app.wait()
        try:
            s.until(lambda w: True, "the active main window", app=app)
            got = "no failure"
        except AssertionError as failure:
            got = str(failure)
    want = ["exited with status 7 before the active main window", *SAID, s.log.name]
    missing = [words for words in want if words not in got]
    assert not missing and BEFORE not in got, \
        f"expected {want}, and not {BEFORE!r}\ngot {got!r}\nmissing {missing}"
