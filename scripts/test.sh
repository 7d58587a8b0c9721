#!/bin/sh
# Runs every test: the host unit tests (plain and under ASan/UBSan), then the
# end-to-end suite under Wine for the 32-bit and the 64-bit exe.
set -eu
cd "$(dirname "$0")/.."

./scripts/deps.sh test

for preset in host host-sanitize win32 win64; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
