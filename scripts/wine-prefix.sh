#!/bin/sh
# Makes (once) a Wine prefix in virtual-desktop mode, so that Wine draws real
# Win32 frames, captions and caption buttons.  Usage: scripts/wine-prefix.sh DIR
set -eu
prefix=${1:?usage: $0 PREFIX_DIR}
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and they cannot be downloaded.
export WINEDLLOVERRIDES="mscoree,mshtml="

fonts="$prefix/drive_c/windows/Fonts"
[ -f "$prefix/.desktop-ready" ] && [ -f "$fonts/marlett.ttf" ] && exit 0
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
# This Wine does not pick up the fonts of its own data directory, so caption
# buttons showed letters instead of their Marlett symbols.
cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
# A running wineserver would keep the old mode.
wineserver -w
touch "$prefix/.desktop-ready"
