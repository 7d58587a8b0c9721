#!/bin/sh
# Installs the Debian packages that a task needs, if any are missing, and
# where the kernel runs no 32-bit code, Debian's user-mode emulator for them.
#   scripts/deps.sh run win32|win64   build one exe and run it under Wine
#   scripts/deps.sh test              the unit and end-to-end tests
#   scripts/deps.sh bench             the benchmark
# It needs root or sudo only when there is something to change.
set -eu
. "$(dirname "$0")/host32.sh"

COMMON="cmake ninja-build wine64 xvfb xauth fonts-wine python3 python3-xlib python3-pil"
WIN64="g++-mingw-w64-x86-64 libgl1 libgl1-mesa-dri libglx-mesa0"
WIN32="g++-mingw-w64-i686 wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386"
TESTS="g++ libgtest-dev python3-pytest binutils-mingw-w64-i686 binutils-mingw-w64-x86-64"

case "${1:-} ${2:-}" in
    "run win64") wanted="$COMMON $WIN64" ;;
    "run win32") wanted="$COMMON $WIN64 $WIN32" ;;
    "test "|"bench ") wanted="$COMMON $WIN64 $WIN32 $TESTS" ;;
    *) echo "usage: $0 run win32|win64 | test | bench" >&2; exit 2 ;;
esac

host32
# A 32-bit exe on a kernel that cannot run it: bring Debian's emulator
# (unless "none" was forced, to try that path).
emulate=""
case "$wanted $GLTRIANGLES_HOST32/${GLTRIANGLES_HOST32_FORCED:-}" in
    *wine32:i386*" none/") emulate=1 ;;
    *wine32:i386*" emulated/1") emulate=1 ;;
esac
[ -n "$emulate" ] && wanted="$wanted qemu-user-static"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "$0: need root or sudo for: $*" >&2
        return 1
    fi
}

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

native=$(dpkg --print-architecture)
missing=""
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
                     as_root dpkg --add-architecture i386 ;;
    esac
    as_root apt-get update -q
    # i386 maintainer scripts fail with "Exec format error" on a kernel that
    # cannot run them; the files they install are still what Wine needs.
    # shellcheck disable=SC2086
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends $missing
fi

[ -n "$emulate" ] || exit 0
binfmt=/proc/sys/fs/binfmt_misc
if grep -qsx enabled "$binfmt/qemu-i386"; then
    exit 0
fi
# Debian registers no i386 handler on amd64, and nothing does without
# systemd. F: the kernel opens the emulator now, so it works in chroots too.
rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
if as_root sh -c "
    [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || exit 1
    if [ -e $binfmt/qemu-i386 ]; then echo 1 >$binfmt/qemu-i386
    else printf '%s' '$rule' >$binfmt/register; fi" 2>/dev/null; then
    echo "Registered qemu-i386-static in binfmt_misc for 32-bit programs"
else
    echo "Could not register an emulator for 32-bit programs: binfmt_misc cannot be mounted or written here (needs root in a machine or privileged container); the 32-bit exe cannot run" >&2
fi
