#!/bin/sh
# CMake's emulator for the cross trees: runs one PE under Wine in the
# project's prefix (wineharness/emulate.py), in the caller's directory.
here=$(pwd)
cd "$(dirname "$0")/.." && root=$(pwd) && . scripts/host32.sh && host32 >&2 || exit 1
cd "$here" && PYTHONPATH=$root exec /usr/bin/python3 -B -m wineharness.emulate "$@"
