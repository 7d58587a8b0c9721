"""Session.query's one retry, with a shell script in place of Wine's loader:
a start is made again only when the check program's own output has the loader's
line and it exited 1, that is said on stderr, and after two such starts the
error quotes the line. No Wine, no X."""

import os
import shlex

from wineharness import session

LOADER = "wine: failed to map the shared user data: c0000018"
OTHER = "err:module:import_dll Library foo.dll not found"

# Each start of the check program: (exit status, its stderr lines); what another
# process of the session logs meanwhile -> starts made, and the result or
# what the error must say.
ROWS = [
    ([(0, [])], [], 1, {"state": "1 0"}),
    ([(3, [])], [], 1, None),
    ([(1, [LOADER]), (0, [])], [], 2, {"state": "1 0"}),
    ([(1, [LOADER]), (1, [LOADER])], [], 2, ["status 1", LOADER]),
    ([(1, [OTHER]), (0, [])], [LOADER], 1, ["status 1", OTHER]),  # another's line
    ([(2, [LOADER]), (0, [])], [], 1, ["status 2", LOADER]),  # not the loader's exit
    ([(0, [LOADER]), (0, [])], [], 1, {"state": "1 0"}),
]


def stand_in(folder, starts, others, log):
    """A loader that plays STARTS in turn, each writing OTHERS to the LOG."""
    def start(status, err):
        say = [f"echo {shlex.quote(line)} >&2" for line in err]
        say += [f"echo {shlex.quote(line)} >>{shlex.quote(log)}" for line in others]
        say += ["echo state 1 0"] * (status == 0)
        return "; ".join(say + [f"exit {status}"])
    count, wine = folder / "starts", folder / "wine64"
    wine.write_text("#!/bin/sh\n"
                    f"n=$(($(cat {count} 2>/dev/null || echo 0) + 1)); echo $n >{count}\n"
                    "case $n in\n"
                    + "".join(f"{n}) {start(*s)};;\n" for n, s in enumerate(starts, 1))
                    + "esac\nexit 99\n")
    wine.chmod(0o755)
    return wine, count


def test_query_retry(tmp_path, monkeypatch, capsys):
    wrong = []
    for i, (starts, others, want_starts, want) in enumerate(ROWS):
        folder = tmp_path / str(i)
        folder.mkdir()
        s = session.Session(folder, "check.exe")
        s.env = dict(os.environ)
        with open(folder / "wine.log", "w") as s.log:
            wine, count = stand_in(folder, starts, others, s.log.name)
            monkeypatch.setattr(session, "loader", lambda exe, wine=wine: str(wine))
            try:
                got = s.query("window")
            except RuntimeError as failure:
                got = str(failure)
        made, said = int(count.read_text()), capsys.readouterr().err
        log = (folder / "wine.log").read_text()
        kept = all(line in log for _, err in starts[:made] for line in err)
        right = got == want if not isinstance(want, list) else \
            isinstance(got, str) and all(words in got for words in want)
        if not (made == want_starts and right and kept and (LOADER in said) == (made == 2)):
            wrong.append(f"row {i}: starts {starts}, another process logs {others}\n"
                         f"  expected {want_starts} start(s), {want!r}, a note on stderr: "
                         f"{want_starts == 2}, the check program's stderr in the session's log\n"
                         f"  got {made} start(s), {got!r}, stderr {said!r}, in the log: {kept}")
    assert not wrong, "\n".join(wrong)
