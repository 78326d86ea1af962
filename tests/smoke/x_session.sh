# Shared by the smoke tests: a private Xvfb on a free display, a program under test, waiting for
# its window and its end. Whatever a test starts is stopped when the test exits.

SMOKE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantor-smoke.XXXXXX")
XVFB_PID=
APP_PID=

# Stops a process, forcibly if it has not ended 5 s after being asked to.
stop() {
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# The program first, while its display is still there.
cleanup() {
    [[ -n $APP_PID ]] && stop "$APP_PID"
    [[ -n $XVFB_PID ]] && stop "$XVFB_PID"
    rm -rf "$SMOKE_TMP"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The real X11 driver, silent sound, and no shader cache or settings left in the home directory:
# every run starts from the default options.
export MESA_SHADER_CACHE_DIR="$SMOKE_TMP/mesa"
export XDG_CONFIG_HOME="$SMOKE_TMP/config"
export SDL_AUDIODRIVER=dummy
unset SDL_VIDEODRIVER WAYLAND_DISPLAY

# Starts Xvfb on the first free display and points DISPLAY at it. $1: the screen's size, WIDTHxHEIGHT
# (1024x768 unless given); $2: its colour depth (24 unless given).
start_xvfb() {
    # A file of its own for each server: a second server in the same test must not be taken for
    # started by the number the first one left, before its shell has even opened the file.
    local number
    number=$(mktemp "$SMOKE_TMP/display.XXXXXX")
    Xvfb -displayfd 3 -nolisten tcp -screen 0 "${1:-1024x768}x${2:-24}" 3>"$number" 2>"$SMOKE_TMP/xvfb.log" &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [[ -s $number ]] && break
        sleep 0.1
    done
    [[ -s $number ]] || fail "Xvfb did not start: $(cat "$SMOKE_TMP/xvfb.log")"
    export DISPLAY=":$(head -n1 "$number")"
}

# Starts the program under test in the background, its output in $SMOKE_TMP/out. It runs in
# $APP_DIR, or in $SMOKE_TMP when that is not set.
start_app() {
    (cd "${APP_DIR:-$SMOKE_TMP}" && exec "$@" >"$SMOKE_TMP/out" 2>&1) &
    APP_PID=$!
}

# Prints the id of the visible window with exactly this title, once it is there.
wait_for_window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        kill -0 "$APP_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Waits up to $1 seconds for the program to end and returns its exit code.
wait_for_exit() {
    for _ in $(seq $(($1 * 10))); do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$APP_PID" 2>/dev/null && fail "still running $1 s after the close; output: $(cat "$SMOKE_TMP/out")"
    local rc=0
    wait "$APP_PID" || rc=$?
    APP_PID=
    return "$rc"
}

# Client size of a window as WIDTHxHEIGHT.
client_size() {
    xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'
}

# Colour of one pixel of a window as #RRGGBB.
pixel() {
    import -silent -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- | grep -o '#[0-9A-Fa-f]\{6\}' | head -n1
}

# Saves the picture of a window as a PNG file: $1 the window, $2 the file.
screenshot() {
    import -silent -window "$1" -depth 8 "$2"
}

# Number of pixels in which two pictures differ.
pixels_differing() {
    compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1
}

# CPU time that a process has used so far, all its threads together, in nanoseconds.
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{sum += $1} END {print sum + 0}'
}

# A memory figure of a process in KiB: $1 the process, $2 the field of /proc/PID/status (VmRSS, VmHWM).
status_kib() {
    awk -v field="$2:" '$1 == field {print $2}' "/proc/$1/status"
}
