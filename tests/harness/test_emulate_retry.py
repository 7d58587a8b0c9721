"""The emulator's one retry (wineharness/emulate.py), with a shell script in
place of Wine's loader: a start is made again only when it exited 1 with
nothing of its own on stdout and the loader's line in the log, and that is
said on stderr. No Wine, no X."""

import shlex

from test_diagnosis import check
from wineharness import diagnose, emulate

LOADER = f"wine: {diagnose.LOADER_GAVE_UP}: c0000018"

# Each start: (exit status, its stdout, its log lines) -> starts made, the
# status returned, and whether stderr says it started once more.
ROWS = [
    ("a case that passed", [(0, "", [])], (1, 0, False)),
    ("the loader gave up once", [(1, "", [LOADER]), (0, "", [])], (2, 0, True)),
    ("the loader gave up twice", [(1, "", [LOADER]), (1, "", [LOADER])], (2, 1, True)),
    ("a case that failed, the exe's loader", [(1, "check.x: FAIL: y\n", [LOADER]), (0, "", [])],
     (1, 1, False)),
    ("status 1 without the loader's line", [(1, "", ["0024:err:module:other"]), (0, "", [])],
     (1, 1, False)),
    ("another status with the line", [(3, "", [LOADER]), (0, "", [])], (1, 3, False)),
]


def played(tmp_path, capsys, starts):
    count = tmp_path / "count"
    count.write_text("0")
    script = ["#!/bin/sh", f"n=$(($(cat {count}) + 1)); echo $n >{count}", 'case $n in']
    for i, (status, out, log) in enumerate(starts, 1):
        lines = "; ".join(f"echo {shlex.quote(line)} >&2" for line in log) or ":"
        script.append(f"{i}) printf %s {shlex.quote(out)}; {lines}; exit {status} ;;")
    script += ["esac", "exit 99"]
    wine = tmp_path / "wine"
    wine.write_text("\n".join(script) + "\n")
    wine.chmod(0o755)
    with open(tmp_path / "wine.log", "w") as log:
        status = emulate.start_once_more([str(wine), "check.exe"], {}, log)
    said = capsys.readouterr().err
    return int(count.read_text()), status, "starting it once more" in said and LOADER in said


def test_start_once_more(tmp_path, capsys):
    def given(what, starts):
        folder = tmp_path / what.replace(" ", "-").replace(",", "").replace("'", "")
        folder.mkdir()
        return played(folder, capsys, starts)
    check([(what, what, starts, want) for what, starts, want in ROWS], given)
