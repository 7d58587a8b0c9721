#!/bin/sh
# Builds the exe and runs it under Wine:  scripts/run.sh [win32|win64]
# win32 (the PE32 exe) is the default; where this host cannot run 32-bit
# code natively the default is the 64-bit build of the same sources, and
# win32 runs under emulation. With DISPLAY set it opens on your display.
# Without one it runs on a private Xvfb, saves build/screenshot.png, judges
# the picture, closes the window with Alt+F4 and exits with the program's
# status (non-zero too if the picture was wrong).
set -eu
cd "$(dirname "$0")/.."
. scripts/host32.sh

host32
arch=
trace=
raw=
for arg in "$@"; do
    case $arg in
        win32|win64) arch=$arg ;;
        --trace) trace=yes ;;  # these two from scripts/trace.sh
        --raw) raw=--raw ;;
        *) echo "usage: $0 [win32|win64]" >&2; exit 2 ;;
    esac
done
if [ -z "$arch" ]; then
    arch=win32
    if [ "$GLTRIANGLES_HOST32" != native ]; then
        arch=win64
        echo "Running the 64-bit build: this host runs no 32-bit code natively ('$0 win32' emulates it)"
    fi
fi

./scripts/deps.sh run "$arch"
host32_again
if [ "$arch" = win32 ] && [ "$GLTRIANGLES_HOST32" = none ]; then
    echo "$0: this host cannot run the 32-bit exe; try '$0 win64'" >&2
    exit 1
fi
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch"

exe=build/$arch/gltriangles.exe
probe64=build/$arch/tests/e2e/e2e_probe64.exe
[ "$arch" = win64 ] && probe64=build/win64/tests/e2e/e2e_probe.exe
[ -z "$trace" ] || exec /usr/bin/python3 -E -B scripts/timeline.py "$exe" "$probe64" $raw
exec /usr/bin/python3 -E -B tests/e2e/wineharness.py run "$exe" "$probe64"
