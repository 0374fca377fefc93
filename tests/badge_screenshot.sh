#!/usr/bin/env bash
# The badge as a person sees it. Starts a host window of a known colour and
# the real server on it (bin/badgehost.exe), takes a screenshot of the X
# display with a compositing manager running, and checks that the badge
# stands 10 pixels in from the bottom-right corner of the work area with its
# premultiplied pixels blended over the host window. Then the same host
# without a display: the server must start, serve and exit 0 without badge.
#   bash tests/badge_screenshot.sh BIN_FOLDER
# Run through CTest by ./run test (Wine prefix and display come from there).
# Exit status 77 (skipped) when there is no DISPLAY, after the check without.
set -u
BIN=$(cd "${1:?usage: badge_screenshot.sh BIN_FOLDER}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(dirname "$BIN")
WINE64=/usr/lib/wine/wine64
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEARCH=win64 WINEDEBUG=-all LANG=C.UTF-8
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"winedbg.exe=d;winemenubuilder.exe=d"}

BACKGROUND=e6b428            # the host window's colour, as badge_host.cpp paints it
BADGE_X=1790 BADGE_Y=950     # 1920 x 1080 work area, 120 x 120 badge, 10 pixels in
WORK=$BUILD/badge_screenshot # results stay in the build folder
rm -rf "$WORK"
mkdir -p "$WORK/nodisplay" "$WORK/display"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Expects each line of the host's report, given as fixed strings.
expect_lines() {
    local log=$1; shift
    for line in "$@"; do
        grep -qxF -- "$line" "$log" || fail "no line '$line' in $log"
    done
}

common_lines=(
    'server: info:Orvanta Plugin Scan Server (x64)\nready:\n'
    'request answered: yes'
    'after close: ""'
    'exit code: 0'
)

# --- On the display ------------------------------------------------------
# First, so that Wine's desktop process of a fresh prefix starts with the
# display: one started without it would keep every later window off screen.
if [ -n "${DISPLAY:-}" ]; then
    HOST_PID="" XCOMPMGR_PID=""
    cleanup() {
        touch "$WORK/display/done"
        [ -n "$HOST_PID" ] && wait "$HOST_PID" 2>/dev/null
        [ -n "$XCOMPMGR_PID" ] && kill "$XCOMPMGR_PID" 2>/dev/null && wait "$XCOMPMGR_PID" 2>/dev/null
    }
    trap cleanup EXIT

    # Wine gives a layered window an ARGB X window; only a compositing manager
    # blends it with what lies below (without one it shows opaque).
    xcompmgr -d "$DISPLAY" >"$WORK/display/xcompmgr.log" 2>&1 &
    XCOMPMGR_PID=$!

    # (Wine's console output ends lines with CR LF.)
    "$WINE64" "$BIN/badgehost.exe" "$(winpath "$WORK/display")" \
        2>"$WORK/display/stderr.log" </dev/null | tr -d '\r' >"$WORK/display/host.log" &
    HOST_PID=$!
    for _ in $(seq 1200); do
        [ -e "$WORK/display/ready" ] && break
        kill -0 "$HOST_PID" 2>/dev/null || break
        sleep 0.1
    done
    [ -e "$WORK/display/ready" ] || fail "the host did not get the server ready"

    # The compositor draws on its own time: look again until the picture is
    # complete, then keep the last screenshot either way.
    SHOT=$WORK/badge_screenshot.png
    check() {
        python3 "$HERE/badge_screenshot_check.py" "$HERE/../res/badge.png" "$WORK/screen.ppm" \
            "$BADGE_X" "$BADGE_Y" "$BACKGROUND" "$@"
    }
    for _ in $(seq 60); do
        import -display "$DISPLAY" -window root "$SHOT" 2>>"$WORK/display/import.log" &&
            convert "$SHOT" "$WORK/screen.ppm" && check --quiet && break
        sleep 0.5
    done
    check || fail "the screenshot does not show the badge as drawn"
    convert "$SHOT" -crop 160x160+$((BADGE_X - 20))+$((BADGE_Y - 20)) +repage -scale 400% \
        "$WORK/badge_closeup.png" 2>/dev/null

    touch "$WORK/display/done"
    wait "$HOST_PID"
    HOST_PID=""
    echo "--- on display $DISPLAY:"
    cat "$WORK/display/host.log"
    # Top-level windows always get WS_CLIPSIBLINGS (0x04000000) on top of
    # WS_POPUP | WS_VISIBLE.
    expect_lines "$WORK/display/host.log" "${common_lines[@]}" 'server windows: 1' \
        "badge: class \"OrvantaScanServer\" title \"Orvanta Scan Server\" rect $BADGE_X,$BADGE_Y,$((BADGE_X + 120)),$((BADGE_Y + 120)) exstyle 00080088 style 94000000 visible 1"
    echo "screenshot: $SHOT"
    echo "close-up (4x): $WORK/badge_closeup.png"
fi

# --- Without a display ---------------------------------------------------
touch "$WORK/nodisplay/done" # nothing to look at: run straight through
env -u DISPLAY "$WINE64" "$BIN/badgehost.exe" "$(winpath "$WORK/nodisplay")" \
    2>"$WORK/nodisplay/stderr.log" </dev/null | tr -d '\r' >"$WORK/nodisplay/host.log"
echo "--- without a display:"
cat "$WORK/nodisplay/host.log"
grep -q '^host window: none' "$WORK/nodisplay/host.log" ||
    fail "the host made a window without a display"
expect_lines "$WORK/nodisplay/host.log" "${common_lines[@]}" 'server windows: 0'

if [ -z "${DISPLAY:-}" ]; then
    echo "SKIP: no DISPLAY, so no screenshot (the server without a display was checked)"
    [ "$failures" -eq 0 ] && exit 77
    exit 1
fi
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "badge screenshot test passed"
