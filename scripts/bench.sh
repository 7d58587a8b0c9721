#!/bin/sh
# Benchmarks gltriangles.exe against its own shell with no OpenGL (bench/)
# under Wine and Xvfb and prints one table of medians, min and max.
# Not a test and not run by CI; docs/performance.md explains the figures.
# Options go to bench/report.py (--runs, --idle, --steps).
set -eu
# shellcheck source-path=SCRIPTDIR source=common.sh
. "$(dirname "$0")/common.sh"
trap interrupted INT
to_root
. scripts/host32.sh

./scripts/deps.sh bench
host32
for preset in $GCC_PRESETS; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
tree_python bench.report "$@"
