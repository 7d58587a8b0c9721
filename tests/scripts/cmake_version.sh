#!/bin/sh
# deps.sh, which every script runs before it builds anything, stops where the
# CMake first on PATH is older than CMakePresets.json asks for, with one line
# naming both versions, and lets a new enough one pass. A stand-in cmake
# answers with each version in turn.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
failed=0
while read -r found status line; do
    printf '#!/bin/sh\necho "cmake version %s"\n' "$found" >"$fake/cmake"
    chmod +x "$fake/cmake"
    out=$(PATH="$fake:$PATH" "$root/scripts/deps.sh" versions 2>&1) && got=0 || got=$?
    [ "$line" != - ] || line=""
    if [ "$got" != "$status" ] || [ "$out" != "$line" ]; then
        printf 'cmake %s: expected status %s and "%s"\n    got status %s and "%s"\n' \
            "$found" "$status" "$line" "$got" "$out"
        failed=1
    fi
done <<'TABLE'
3.22.1 1 CMake 3.25 or later is needed (for CMakePresets.json); found CMake 3.22.1: install CMake 3.25 or later, first on PATH
3.3.2 1 CMake 3.25 or later is needed (for CMakePresets.json); found CMake 3.3.2: install CMake 3.25 or later, first on PATH
3.24.4 1 CMake 3.25 or later is needed (for CMakePresets.json); found CMake 3.24.4: install CMake 3.25 or later, first on PATH
3.25.0 0 -
3.25.1 0 -
3.31.6 0 -
4.0.2 0 -
TABLE
exit $failed
