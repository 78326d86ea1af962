#!/bin/bash
# Idle CPU of the game: starts it under a private Xvfb with silent sound, lets the intro run out,
# and prints the share of one core that the process used over a quiet stretch on the intro
# screen, then again on the title screen after one click. Reads utime + stime from /proc.
# Usage: tools/measure_idle_cpu.sh [VANTOR [SECONDS]]   (default build/release/vantor, 10 s)
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
vantor=$(readlink -f "${1:-$root/build/release/vantor}")
seconds=${2:-10}
[[ -x $vantor ]] || { echo "no game at $vantor; build it first (./run or ./test)" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vantor-cpu.XXXXXX")
xvfb=
game=
cleanup() {
    [[ -n $game ]] && kill "$game" 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$tmp/display")"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} MESA_SHADER_CACHE_DIR="$tmp/mesa"

(cd "$tmp" && exec "$vantor" >"$tmp/out" 2>&1) &
game=$!

# CPU time of the game so far, in clock ticks (fields 14 and 15, counted after the name).
cpu_ticks() {
    sed 's/^.*) //' "/proc/$game/stat" | awk '{print $12 + $13}'
}

# Prints the share of one core used over $seconds.
measure() {
    local hz before after start end
    hz=$(getconf CLK_TCK)
    before=$(cpu_ticks)
    start=$(date +%s.%N)
    sleep "$seconds"
    after=$(cpu_ticks)
    end=$(date +%s.%N)
    awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" \
        'BEGIN {printf "%.2f%% of one core (%d ticks of 1/%d s in %.1f s)\n", 100 * t / hz / (e - s), t, hz, e - s}'
}

id=
for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name '^Vantor$' 2>/dev/null | head -n1) && [[ -n $id ]] && break
    sleep 0.1
done
[[ -n $id ]] || { echo "the game did not open its window: $(cat "$tmp/out")" >&2; exit 1; }

sleep 4
echo "intro screen: $(measure)"
xdotool mousemove --window "$id" 300 200 click 1
sleep 1
echo "title screen: $(measure)"
