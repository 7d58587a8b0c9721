#!/bin/sh
# Builds the 32-bit exe and runs it under Wine.
# With DISPLAY set it opens on your display. Without one it runs on a
# private Xvfb, saves build/screenshot.png, closes the window and exits
# with the program's own exit status.
set -eu
cd "$(dirname "$0")/.."
root=$PWD

./scripts/deps.sh run
cmake --preset win32 >/dev/null
cmake --build --preset win32

exe=build/win32/gltriangles.exe
prefix=$root/build/wineprefix
# The tests share this prefix; take turns with them.
exec 9>"$prefix.lock"
flock 9
./scripts/wine-prefix.sh "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -n "${DISPLAY:-}" ]; then
    exec wine "$exe"
fi

xvfb_pid=""
wine_pid=""
work=$(mktemp -d)
cleanup() {
    [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Let the X server pick a free display and tell us which.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for() {  # wait_for SECONDS COMMAND...: poll until COMMAND succeeds
    limit=$(( $1 * 10 )); shift
    while ! "$@" >/dev/null 2>&1; do
        limit=$((limit - 1))
        [ "$limit" -gt 0 ] || return 1
        sleep 0.1
    done
}
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

wine "$exe" &
wine_pid=$!

title="^Drawing Triangles With OpenGL \\(WEZ 6\\.1\\)$"
wait_for 60 xdotool search --name "$title" || { echo "no window appeared" >&2; exit 1; }

# The first paint arrives through the message loop; wait until the middle
# of the second triangle (a bright blue-violet) is on screen.
painted() {
    import -window root -crop 400x150+0+0 +repage "$work/shot.png" &&
    [ "$(convert "$work/shot.png" -format '%[fx:int(255*p{298,77}.b)]' info:)" -gt 200 ]
}
wait_for 20 painted || echo "warning: the picture did not appear in time" >&2
cp "$work/shot.png" build/screenshot.png

# Close it as a user would.
xdotool key alt+F4
status=0
wait "$wine_pid" || status=$?
wine_pid=""
echo "Screenshot saved to $root/build/screenshot.png"
echo "gltriangles.exe exited with status $status"
exit "$status"
