#!/bin/sh
# Runs every test: the host unit tests (plain and under ASan/UBSan), then the
# end-to-end suite under Wine for the 32-bit and the 64-bit exe built by GCC,
# and for the 32-bit exe built by clang and lld. Every preset
# runs even after one fails; the last lines sum them up, one per preset.
# On Ctrl+C ctest ends at once, but the e2e session goes on ending its Wine
# and Xvfb: wait for it to let go of the prefix's lock (wineharness/prefix.py).
# Only for a while: a run.sh on a display holds the lock while its window is
# open. The session lets go about 3.5 s after Ctrl+C (Wine 8, native i386).
# Then name the holder, from the kernel's list of locks (no fuser or lsof on
# a minimal Debian).
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
interrupted() {
    if [ -e build/wineprefix.lock ] && ! flock -w "$LOCK_WAIT" build/wineprefix.lock true; then
        holders=$(lock_holders)
        echo "$0: interrupted; build/wineprefix.lock is still held after $LOCK_WAIT s, by${holders:- a process this system does not list}: end it (or close its window) before the next run" >&2
    else
        echo "$0: interrupted" >&2
    fi
    exit 130
}
trap interrupted INT
if [ $# -gt 0 ]; then
    echo "usage: $0 (no arguments: it runs every preset; to run one, see the README's Tests)" >&2
    exit 2
fi
cd "$(dirname "$0")/.." || exit 1
. scripts/host32.sh

./scripts/deps.sh test || exit 1
host32

summary=""
failed=0
for preset in host host-sanitize win32 win64 win32-clang; do
    echo "=== $preset"
    log=build/$preset.log
    mkdir -p build
    { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
          ctest --preset "$preset"; } 2>&1 | tee "$log"
    # The e2e cases report through pytest, the unit tests through ctest.
    cases=$(sed -nE 's/^([0-9]+: )?=+ ([0-9].*) in [0-9.]+s.*/\2/p' "$log" | tail -1)
    [ -n "$cases" ] || cases=$(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests failed out of ([0-9]+)/\2 tests, \1 failed/p' "$log")
    why=$(sed -nE 's/^([0-9]+: )?SKIPPED \[[0-9]+\] [^ ]+:[0-9]+: //p' "$log" | sort -u | head -1)
    if ! grep -q '^100% tests passed' "$log"; then
        result=failed; failed=1
    elif [ -n "$why" ] && ! echo "$cases" | grep -q passed; then
        result=skipped
    else
        result=passed
    fi
    summary="$summary$preset: $result, ${cases:-no count}${why:+ ($why)}
"
done
echo "=== summary"
printf '%s' "$summary"
exit "$failed"
