#!/bin/bash
# The game under a private X server: a fixed window titled "Vantor" with a 600 x 460 client area,
# drawn without OpenGL, that ends the game with exit code 0 when it is closed.
# Usage: vantor_window_test.sh VANTOR X_CLOSE_WINDOW
source "$(dirname "$0")/x_session.sh"
vantor=$1
close_window=$2

start_xvfb
start_app "$vantor"
id=$(wait_for_window Vantor) || fail "no window titled Vantor; output: $(cat "$SMOKE_TMP/out")"

size=$(client_size "$id")
[[ $size == 600x460 ]] || fail "the client area is $size, not 600x460"
hints=$(xprop -id "$id" WM_NORMAL_HINTS)
grep -q "minimum size: 600 by 460" <<<"$hints" && grep -q "maximum size: 600 by 460" <<<"$hints" ||
    fail "the window can be resized: $hints"

# A second of ticks, then the game must still be running and must not have loaded OpenGL.
sleep 1
kill -0 "$APP_PID" 2>/dev/null || fail "the game ended by itself; output: $(cat "$SMOKE_TMP/out")"
gl=$(grep -E -o '/[^ ]*(libGL|libGLX|libEGL|_dri)[^ ]*\.so[^ ]*' "/proc/$APP_PID/maps" | sort -u)
[[ -z $gl ]] || fail "OpenGL was loaded: $gl"

"$close_window" "$id" || fail "could not ask the window to close"
rc=0
wait_for_exit 15 || rc=$?
[[ $rc == 0 ]] || fail "exit code $rc after the close; output: $(cat "$SMOKE_TMP/out")"
echo "PASS"
