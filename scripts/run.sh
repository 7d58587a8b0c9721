#!/bin/sh
# Builds the exe and runs it under Wine:  scripts/run.sh [win32|win64]
# win32, the PE32 exe, is the default wherever 32-bit programs can run,
# natively or under qemu; where they cannot, the 64-bit build of the same
# sources is. With DISPLAY set it opens on your display. Without one it runs
# on a private Xvfb, saves build/screenshot.png, judges the picture, closes
# the window with Alt+F4 and exits with the program's status (non-zero too
# if the picture was wrong).
set -eu
cd "$(dirname "$0")/.."
. scripts/host32.sh

arch=
mode=run
raw=
for arg in "$@"; do
    case $arg in
        win32|win64) arch=$arg ;;
        --trace) mode=trace ;;  # these two from scripts/trace.sh
        --raw) raw=--raw ;;
        *) echo "usage: $0 [win32|win64]" >&2; exit 2 ;;
    esac
done

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
# Debian's interpreter, which has Debian's python3-xlib and Pillow; -m finds
# the harness in the working directory, the source tree.
harness="/usr/bin/python3 -E -B -m wineharness"
$harness prefix &  # made while the exe builds
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --target gltriangles probe  # not the tests' exes
wait $!
exec $harness "$mode" "build/$arch" $raw
