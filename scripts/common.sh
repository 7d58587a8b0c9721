# shellcheck shell=sh
# Sourced first by each script, as . "$(dirname "$0")/common.sh": what they
# all need, written once.

# The source tree, whatever directory the script was started from.
root=$(cd "$(dirname "$0")/.." && pwd) || exit 1
# The name the script's messages start with; run.sh changes it for trace.sh.
me=$0

# The scripts run from the source root: the presets, build/ and the harness
# are found from there.
to_root() {
    cd "$root" || exit 1
}

# Ctrl+C: one line (what the script adds after a ";"), then status 130.
# Trapped, not left to the shell, so that what runs ends itself first.
interrupted() {  # [DETAIL]
    echo "$me: interrupted${1:+; $1}" >&2
    exit 130
}

# A module of the tree (MODULE ARGS), run in the current directory by
# Debian's interpreter, which has Debian's python3-xlib and Pillow. -E keeps
# the user's PYTHON* settings out, so the tree goes first on the path here;
# PYTHONPATH is for the interpreters the harness starts itself (-m, no -E).
# Not exec: on Ctrl+C the harness ends its Wine and Xvfb quietly, then the
# script says so. exec_tree_python is for a script's last command and for a
# background job, whose $! is then the interpreter itself.
TREE_MAIN='import runpy, sys
sys.path.insert(0, sys.argv.pop(1))
del sys.argv[0]
runpy.run_module(sys.argv[0], run_name="__main__", alter_sys=True)'
tree_python() {
    PYTHONPATH=$root /usr/bin/python3 -E -B -c "$TREE_MAIN" "$root" "$@"
}
exec_tree_python() {
    PYTHONPATH=$root exec /usr/bin/python3 -E -B -c "$TREE_MAIN" "$root" "$@"
}

# The presets test.sh runs, in its order: the host's, then the Windows
# builds under Wine (GCC, then clang and lld), then test presets that run a
# tree built above again, on a scaled screen. bench.sh measures the GCC ones.
# shellcheck disable=SC2034  # read by the scripts that source this file
HOST_PRESETS="host host-sanitize" \
    GCC_PRESETS="win32 win64" \
    CLANG_PRESETS="win32-clang win64-clang" \
    DPI_PRESETS="win64-144dpi"

# For deps.sh and host32.sh, which install packages and check versions.

# Exits, with one line, where TOOL's version FOUND is older than NEEDED.
need_version() {  # TOOL NEEDED FOUND WHY WHAT-TO-DO
    printf '%s\n%s\n' "$2" "$3" | sort -V -C && return 0
    echo "$1 $2 or later is needed ($4); found ${3:+$1 }${3:-none}: $5" >&2
    exit 1
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"
    elif command -v sudo >/dev/null; then sudo "$@"
    else echo "$0: need root or sudo for: $(printf '%s\n' "$*" | head -1)" >&2; return 1
    fi
}

updated=""
apt_update() {
    as_root apt-get update -q
    updated=1
}
apt_install() {
    [ -n "$updated" ] || apt_update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}
