#!/bin/sh
# Benchmarks gltriangles.exe against its own shell with no OpenGL (bench/)
# under Wine and Xvfb and prints one table of medians, min and max.
# Not a test and not run by CI; docs/performance.md explains the figures.
# Options go to bench/report.py (--runs, --idle, --steps).
set -eu
trap 'echo "$0: interrupted" >&2; exit 130' INT  # once what runs has ended itself
cd "$(dirname "$0")/.."
. scripts/host32.sh

./scripts/deps.sh bench
host32
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
# Debian's interpreter, which has Debian's python3-xlib and Pillow; -m finds
# the harness in the working directory, the source tree. Not exec: on Ctrl+C
# it ends its Wine and Xvfb quietly, then we say so.
/usr/bin/python3 -E -B -m bench.report "$@"
