#!/bin/sh
# Runs every test: the host unit tests (plain and under ASan/UBSan), then the
# end-to-end suite under Wine for the 32-bit and the 64-bit exe, each built
# by GCC and by clang and lld. Every preset
# runs even after one fails; the last lines sum them up, one per preset.
# On Ctrl+C ctest ends at once, but the e2e session goes on ending its Wine
# and Xvfb: wait for it to let go of the prefix's lock (wineharness/prefix.py).
# Only for a while: a run.sh on a display holds the lock while its window is
# open. The session lets go about 3.5 s after Ctrl+C (Wine 8, native i386).
# Then name the holder, from the kernel's list of locks (no fuser or lsof on
# a minimal Debian).
set -u
# shellcheck source-path=SCRIPTDIR source=common.sh
. "$(dirname "$0")/common.sh"
LOCK_WAIT=10
# shellcheck disable=SC2317  # called from the trap
lock_holders() {  # " PID (COMMAND)" for each process holding build/wineprefix.lock
    ino=$(stat -c %i build/wineprefix.lock 2>/dev/null) || return 0
    while read -r _ kind _ _ pid file _; do
        if [ "$kind" = FLOCK ] && [ "${file##*:}" = "$ino" ]; then
            printf ' pid %s (%s)' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed 's/ $//')"
        fi
    done </proc/locks
}
# shellcheck disable=SC2317  # called from the trap
interrupted_waiting() {
    kill "${prefix_job:-}" 2>/dev/null  # before it is named as what holds the prefix
    if [ -e build/wineprefix.lock ] && ! flock -w "$LOCK_WAIT" build/wineprefix.lock true; then
        holders=$(lock_holders)
        interrupted "build/wineprefix.lock is still held after $LOCK_WAIT s, by${holders:- a process this system does not list}: end it (or close its window) before the next run"
    fi
    interrupted
}
trap interrupted_waiting INT
if [ $# -gt 0 ]; then
    echo "usage: $0 (no arguments: it runs every preset; to run one, see the README's Tests)" >&2
    exit 2
fi
to_root
. scripts/host32.sh

./scripts/deps.sh test || exit 1
host32
# The Wine prefix is made meanwhile, as run.sh makes it while it builds: the
# host presets need none, and the first Wine preset's e2e.prefix waits for it.
exec_tree_python wineharness prefix &
prefix_job=$!
trap 'kill $prefix_job 2>/dev/null' EXIT

# The counts as the runners wrote them: ctest's JUnit file and, for the
# cases inside e2e.cases, pytest's. Prints "RESULT, COUNTS".
counts() {
    /usr/bin/python3 - "$@" <<'EOF'
import os, sys, xml.etree.ElementTree as ET
ctest, pytest = sys.argv[1:]
if not os.path.exists(ctest):
    sys.exit(print("failed, no count (nothing ran: see the log above)"))
n = ET.parse(ctest).getroot().attrib
ran, failed, skipped = int(n["tests"]), int(n["failures"]), int(n["skipped"])
line = f"{ran} tests, {failed} failed" + (f", {skipped} skipped" if skipped else "")
if os.path.exists(pytest):
    suite = ET.parse(pytest).getroot().find("testsuite")
    p = {k: int(suite.get(k)) for k in ("tests", "failures", "errors", "skipped")}
    line += f"; pytest: {p['tests'] - p['failures'] - p['errors'] - p['skipped']} passed" + "".join(
        f", {p[k]} {k}" for k in ("failures", "errors", "skipped") if p[k])
    why = {s.get("message", "").removeprefix("Skipped: ") for s in suite.iter("skipped")}
    line += f" ({'; '.join(sorted(why))})" if why else ""
print("failed" if failed else "skipped" if skipped else "passed", line, sep=", ")  # never passed with a case skipped
EOF
}

summary=""
failed=0
built() {  # PRESET: configured and built, unless it tests a tree that another preset built
    case " $DPI_PRESETS " in *" $1 "*) return 0 ;; esac
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}
for preset in $HOST_PRESETS $GCC_PRESETS $CLANG_PRESETS $DPI_PRESETS; do
    echo "=== $preset"
    log=build/$preset.log
    junit=$PWD/build/$preset.junit.xml
    pytest=build/$preset/tests/e2e/kept/pytest.xml
    mkdir -p build
    rm -f "$junit" "$pytest"
    { built "$preset" && ctest --preset "$preset" --output-junit "$junit"; } 2>&1 | tee "$log"
    line=$(counts "$junit" "$pytest")
    case $line in failed*) failed=1 ;; esac
    summary="$summary$preset: $line
"
done
echo "=== summary"
printf '%s' "$summary"
exit "$failed"
