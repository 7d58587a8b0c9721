#!/bin/sh
# deps.sh, which every script runs before it builds anything, stops where the
# CMake first on PATH is older than CMakePresets.json asks for (or there is
# none), with one line naming both versions, and lets a new enough one pass:
# in every mode, called by a relative path from another directory, and on a
# host without dpkg.
#
# PATH holds only the tools deps.sh uses and stand-ins: a cmake that answers
# with the row's version, dpkg and dpkg-query that call every package
# installed, and apt-get, sudo and mount that fail loudly. With the 32-bit
# answer forced, deps.sh never probes for or registers an emulator. So
# nothing is installed or changed, even run as root.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/bin" "$fake/elsewhere"
for tool in dirname sed sort; do
    ln -s "$(command -v "$tool")" "$fake/bin/$tool"
done
stand_in() {  # NAME BODY
    printf '#!/bin/sh\n%s\n' "$2" >"$fake/bin/$1"
    chmod +x "$fake/bin/$1"
}
stand_in dpkg-query 'echo "install ok installed"'
stand_in dpkg 'echo amd64'
for tool in apt-get sudo mount; do
    # shellcheck disable=SC2016  # expanded by the stand-in
    stand_in "$tool" 'echo "stand-in $(basename "$0") called: $*" >&2; exit 99'
done

old="CMake 3.25 or later is needed (for CMakePresets.json); found"
fix="install CMake 3.25 or later, first on PATH"
failed=0
row=0
while read -r mode cmake call dpkg status line; do
    row=$((row + 1))
    line=$(printf '%s' "$line" | sed "s/OLD/$old/; s/FIX/$fix/")
    [ "$line" != - ] || line=""
    rm -f "$fake/bin/cmake"
    [ "$cmake" = none ] || stand_in cmake "echo 'cmake version $cmake'"
    hidden=""
    [ "$dpkg" = yes ] || { mkdir -p "$fake/hidden"; mv "$fake/bin/dpkg" "$fake/bin/dpkg-query" "$fake/hidden"; hidden=1; }
    # shellcheck disable=SC2046  # MODE "run,win64" is two words
    set -- $(echo "$mode" | tr , ' ')
    case $call in
        absolute) out=$(cd "$fake/elsewhere" && PATH="$fake/bin" GLTRIANGLES_HOST32=native \
                            "$root/scripts/deps.sh" "$@" 2>&1) ;;
        relative) out=$(cd "$root/.." && PATH="$fake/bin" GLTRIANGLES_HOST32=native \
                            /bin/sh "$(basename "$root")/scripts/deps.sh" "$@" 2>&1) ;;
    esac && got=0 || got=$?
    [ -z "$hidden" ] || mv "$fake/hidden/dpkg" "$fake/hidden/dpkg-query" "$fake/bin"
    if [ "$got" != "$status" ] || [ "$out" != "$line" ]; then
        printf 'row %s (deps.sh %s, cmake %s, %s call, dpkg %s):\n    expected status %s and "%s"\n    got status %s and "%s"\n' \
            "$row" "$*" "$cmake" "$call" "$dpkg" "$status" "$line" "$got" "$out"
        failed=1
    fi
done <<'TABLE'
versions  3.22.1 absolute yes 1 OLD CMake 3.22.1: FIX
versions  3.3.2  absolute yes 1 OLD CMake 3.3.2: FIX
versions  3.24.4 absolute yes 1 OLD CMake 3.24.4: FIX
versions  none   absolute yes 1 OLD none: FIX
versions  3.25.0 absolute yes 0 -
versions  3.25.1 absolute yes 0 -
versions  3.31.6 absolute yes 0 -
versions  4.0.2  absolute yes 0 -
versions  3.24.4 relative yes 1 OLD CMake 3.24.4: FIX
versions  3.25.0 relative yes 0 -
versions  3.24.4 absolute no  1 OLD CMake 3.24.4: FIX
versions  3.25.0 absolute no  0 -
run,win64 3.24.4 absolute yes 1 OLD CMake 3.24.4: FIX
run,win64 none   absolute yes 1 OLD none: FIX
run,win64 3.25.0 absolute yes 0 -
run,win64 3.25.0 relative yes 0 -
run,win32 3.24.4 absolute yes 1 OLD CMake 3.24.4: FIX
test      3.24.4 absolute yes 1 OLD CMake 3.24.4: FIX
bench     3.25.0 absolute yes 0 -
run,win64 3.25.0 absolute no  1 scripts/deps.sh: no dpkg-query on PATH to find which packages are installed: run it on Debian, or install what docs/harness.md lists yourself
TABLE
exit $failed
