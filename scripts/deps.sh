#!/bin/sh
# Installs the Debian packages that a task needs, if any are missing.
#   scripts/deps.sh run    build the 32-bit exe and run it under Wine
#   scripts/deps.sh test   everything the unit and end-to-end tests need
#   scripts/deps.sh bench  everything the benchmark needs
set -eu

RUN_PACKAGES="cmake ninja-build g++-mingw-w64-i686
 wine wine32:i386 wine64 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386
 xvfb xauth fonts-wine x11-utils xdotool imagemagick"
TEST_PACKAGES="$RUN_PACKAGES g++ libgtest-dev g++-mingw-w64-x86-64
 libgl1 libgl1-mesa-dri libglx-mesa0 binutils-mingw-w64-i686 python3"
BENCH_PACKAGES="$TEST_PACKAGES libx11-6 libxtst6"

case "${1:-}" in
    run) wanted=$RUN_PACKAGES ;;
    test) wanted=$TEST_PACKAGES ;;
    bench) wanted=$BENCH_PACKAGES ;;
    *) echo "usage: $0 run|test|bench" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then
    as_root() { "$@"; }
else
    command -v sudo >/dev/null || { echo "$0: need root or sudo to install packages" >&2; exit 1; }
    as_root() { sudo "$@"; }
fi

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
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
as_root apt-get update -q
# shellcheck disable=SC2086
as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends $missing
