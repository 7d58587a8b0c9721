#!/bin/sh
# Installs the Debian packages that a task needs, if any are missing, then
# checks that the tools are new enough ("versions" only checks):
#   scripts/deps.sh run win32|win64 | test | bench | versions
# Where the task runs the 32-bit exe and the kernel runs no i386 code, it
# first brings a current qemu and registers it for i386 programs, unless the
# user set GLTRIANGLES_HOST32: forcing an answer only picks a path.
# It needs root or sudo only when there is something to change.
set -eu
# shellcheck source-path=SCRIPTDIR source=host32.sh
. "$(dirname "$0")/host32.sh"
cd "$(dirname "$0")/.."  # host32.sh runs its probe from build/

COMMON="cmake ninja-build wine64 xvfb fonts-wine python3 python3-xlib python3-pil"
# Only the win32 thread model, which the builds
# use: with the posix one too the download doubles.
WIN64="g++-mingw-w64-x86-64-win32 libgl1 libgl1-mesa-dri libglx-mesa0"
WIN32="g++-mingw-w64-i686-win32 wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386"
TESTS="g++ libgtest-dev python3-pytest clang lld"  # clang and lld: the second compiler

case "${1:-} ${2:-}" in
    "run win64") wanted="$COMMON $WIN64" ;;
    "run win32") wanted="$COMMON $WIN64 $WIN32" ;;
    "test "|"bench ") wanted="$COMMON $WIN64 $WIN32 $TESTS" ;;
    "versions ") wanted="" ;;
    *) echo "usage: $0 run win32|win64 | test | bench | versions" >&2; exit 2 ;;
esac

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

# qemu 7.2 spends 0.6 ms on each guest mmap, and a 32-bit Wine start makes 130,000 (8.0 tracks pages in interval trees)
QEMU_MIN=8

# indextargets lists only the indexes apt has downloaded: none at all where
# its lists are empty (a fresh image, a cleaned system), so update first.
# shellcheck disable=SC2016  # apt expands the $(FIELD)s in --format
add_backports() {
    has_index() { apt-get indextargets --format '$(RELEASE)' | grep -qx "$1"; }
    has_index bookworm-backports && return 0
    [ -n "$updated" ] || apt_update
    has_index bookworm-backports && return 0
    mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' | sed -n 's/^bookworm //p' | head -1)
    if [ -z "$mirror" ]; then
        echo "$0: apt has no Debian 12 (bookworm) mirror in its sources to take bookworm-backports from; add one, or install qemu-user-static 8 or later yourself" >&2
        exit 1
    fi
    echo "deb $mirror bookworm-backports main" |
        as_root tee /etc/apt/sources.list.d/gltriangles-bookworm-backports.list >/dev/null
    updated=""
}

bring_emulator() {
    qemu=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | sed 's/^[0-9]*://')
    if ! [ "${qemu%%.*}" -ge $QEMU_MIN ] 2>/dev/null; then
        . /etc/os-release
        from=""
        if [ "${VERSION_CODENAME:-}" = bookworm ]; then  # its own qemu is 7.2
            from="-t bookworm-backports"
            add_backports
            echo "Taking qemu-user-static from bookworm-backports, for that package only: Debian 12's qemu 7.2 takes about a minute to start each 32-bit Wine process"
        fi
        # shellcheck disable=SC2086
        apt_install $from qemu-user-static
    fi
    # Debian registers no i386 handler on amd64, and nothing does without
    # systemd. F: the kernel opens the emulator now, so it works in chroots too.
    binfmt=/proc/sys/fs/binfmt_misc
    rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
    # Only the kernel's refusals are hidden: as_root and sudo say why they fail.
    status=0
    as_root sh -c "# register qemu-i386 in binfmt_misc
        exec 2>/dev/null
        [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || exit 3
        [ ! -e $binfmt/qemu-i386 ] || echo -1 >$binfmt/qemu-i386
        printf '%s' '$rule' >$binfmt/register || exit 3" || status=$?
    case $status in
        0) echo "Registered qemu $(host32_emulator_version) in binfmt_misc for 32-bit programs" ;;
        3) echo "Could not register an emulator for 32-bit programs: binfmt_misc cannot be mounted or written here (needs root in a machine or privileged container)" >&2 ;;
        *) echo "Could not register an emulator for 32-bit programs: that needs root or sudo" >&2 ;;
    esac
}

case "$wanted" in
    *wine32:i386*)  # an emulator older than QEMU_MIN is replaced
        if [ -z "${GLTRIANGLES_HOST32:-}" ] && [ "$(host32_probe)" != native ]; then
            [ "$(host32_emulator_version)" -ge $QEMU_MIN ] 2>/dev/null || bring_emulator
            # None at all is no error: the 64-bit build runs then.
            found=$(host32_emulator_version)
            [ -z "$found" ] || need_version qemu $QEMU_MIN "$found" \
                "older ones take about a minute to start each 32-bit Wine process" \
                "install qemu-user-static $QEMU_MIN or later, or set GLTRIANGLES_HOST32=none to leave 32-bit programs out"
        fi ;;
esac

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=""
if [ -n "$wanted" ]; then  # versions needs no dpkg
    if ! command -v dpkg-query >/dev/null; then
        echo "scripts/deps.sh: no dpkg-query on PATH to find which packages are installed: run it on Debian, or install what docs/harness.md lists yourself" >&2
        exit 1
    fi
    native=$(dpkg --print-architecture)
fi
for pkg in $wanted; do
    # An unqualified name means the native package; arch:all ones have no
    # qualified name, so fall back to the plain one.
    case "$pkg" in
        *:*) installed "$pkg" ;;
        *) installed "$pkg:$native" || installed "$pkg" ;;
    esac || missing="$missing $pkg"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    case "$missing" in
        *:i386*) dpkg --print-foreign-architectures | grep -qx i386 ||
                     { as_root dpkg --add-architecture i386; updated=""; } ;;
    esac
    # shellcheck disable=SC2086
    apt_install $missing
fi

# The presets file says which CMake it needs.
needed=$(/usr/bin/python3 -E -c 'import json, sys
least = json.load(sys.stdin)["cmakeMinimumRequired"]
print(least["major"], least["minor"], sep=".")' <CMakePresets.json)
need_version CMake "$needed" "$(cmake --version 2>/dev/null | sed -n 's/^cmake version //p')" \
    "for CMakePresets.json" "install CMake $needed or later, first on PATH"
