#!/bin/sh
# Builds the exe and runs it under Wine:  scripts/run.sh [win32|win64]
# win32, the PE32 exe, is the default wherever 32-bit programs can run,
# natively or under qemu; where they cannot, the 64-bit build of the same
# sources is. With DISPLAY set it opens on your display. Without one it runs
# on a private Xvfb, saves build/screenshot.png, judges the picture, closes
# the window with Alt+F4 and exits with the program's status (non-zero too
# if the picture was wrong).
set -eu
# shellcheck source-path=SCRIPTDIR source=common.sh
. "$(dirname "$0")/common.sh"
trap interrupted INT
to_root
. scripts/host32.sh

arch=
mode=run
raw=
usage() {
    case $mode in
        run) echo "usage: $me [win32|win64]" >&2 ;;
        trace) echo "usage: $me [win32|win64] [--raw]" >&2 ;;
    esac
    exit 2
}
for arg in "$@"; do
    case $arg in
        win32|win64) arch=$arg ;;
        --trace) mode=trace; me=$(dirname "$0")/trace.sh ;;  # first, from scripts/trace.sh
        --raw) raw=--raw ;;
        *) usage ;;
    esac
done
[ -z "$raw" ] || [ "$mode" = trace ] || usage  # only the trace has a whole log to keep

./scripts/deps.sh run "${arch:-win32}"
host32
if [ "$GLTRIANGLES_HOST32" = none ]; then
    if [ -z "$arch" ]; then
        arch=win64
        echo "Running the 64-bit build: this host cannot run 32-bit programs"
    elif [ "$arch" = win32 ]; then
        echo "$0: this host cannot run the 32-bit exe; try '$0 win64'" >&2
        exit 1
    fi
fi
arch=${arch:-win32}
[ -z "${DISPLAY:-}" ] || tree_python wineharness display  # before Wine starts, one line if it cannot open
# The prefix is made while the exe builds. A background job ignores Ctrl+C,
# so if the build fails or is interrupted it is ended here, with its Wine.
exec_tree_python wineharness prefix &
prefix_job=$!
trap 'kill $prefix_job 2>/dev/null; wait $prefix_job 2>/dev/null || :' EXIT
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --target gltriangles check  # not the tests' exes
wait $prefix_job
trap - EXIT
tree_python wineharness "$mode" "build/$arch" $raw
