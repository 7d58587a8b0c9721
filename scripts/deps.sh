#!/bin/sh
# Installs the Debian packages that a task needs, if any are missing, then
# checks that the tools are new enough ("versions" only checks):
#   scripts/deps.sh run win32|win64 | test | bench | versions
# Where the task runs the 32-bit exe and the kernel runs no i386 code, it
# first brings a current qemu and registers it for i386 programs, unless the
# user set GLTRIANGLES_HOST32: forcing an answer only picks a path.
# It needs root or sudo only when there is something to change.
set -eu
# shellcheck source-path=SCRIPTDIR source=common.sh
. "$(dirname "$0")/common.sh"
to_root  # host32.sh runs its probe from build/
. scripts/host32.sh

COMMON="cmake ninja-build wine64 xvfb fonts-wine python3 python3-xlib python3-pil"
# Only the win32 thread model, which the builds
# use: with the posix one too the download doubles. Without XComposite,
# Wine 10 shows a scaled window's OpenGL picture black.
WIN64="g++-mingw-w64-x86-64-win32 libgl1 libgl1-mesa-dri libglx-mesa0 libxcomposite1"
WIN32="g++-mingw-w64-i686-win32 wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libxcomposite1:i386"
# clang and lld: the second compiler; the rest check the style (tests/style)
TESTS="g++ libgtest-dev python3-pytest clang lld clang-format clang-tidy shellcheck"

case "${1:-} ${2:-}" in
    "run win64") wanted="$COMMON $WIN64" ;;
    "run win32") wanted="$COMMON $WIN64 $WIN32" ;;
    "test "|"bench ") wanted="$COMMON $WIN64 $WIN32 $TESTS" ;;
    "versions ") wanted="" ;;
    *) echo "usage: $0 run win32|win64 | test | bench | versions" >&2; exit 2 ;;
esac

case "$wanted" in
    *wine32:i386*) host32_make_possible ;;
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
    # shellcheck disable=SC2086  # one word per package
    apt_install $missing
fi

# The presets file says which CMake it needs.
needed=$(/usr/bin/python3 -E -c 'import json, sys
least = json.load(sys.stdin)["cmakeMinimumRequired"]
print(least["major"], least["minor"], sep=".")' <CMakePresets.json)
need_version CMake "$needed" "$(cmake --version 2>/dev/null | sed -n 's/^cmake version //p')" \
    "for CMakePresets.json" "install CMake $needed or later, first on PATH"
