#!/bin/sh
# CMake's emulator for the cross trees: runs one PE under Wine in the
# project's prefix (wineharness/emulate.py), in the caller's directory.
here=$(pwd)
# shellcheck source-path=SCRIPTDIR source=common.sh
. "$(dirname "$0")/common.sh"
to_root
. scripts/host32.sh && host32 >&2 || exit 1
cd "$here" && exec_tree_python wineharness.emulate "$@"
