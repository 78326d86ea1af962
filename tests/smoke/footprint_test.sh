#!/bin/bash
# The game stays quick and small: it draws its first frame within a second and a half of its
# launch, it sleeps between ticks on the title screen instead of polling, its sound device closes
# once quiet and opens again for the next sound, and (in a build without the sanitizers, which need
# far more memory) it holds less than 32 MiB. The limits are loose, for a
# busy machine; tests/smoke/measure_footprint.sh gives the real figures.
# Usage: footprint_test.sh VANTOR X_FIRST_FRAME
source "$(dirname "$0")/x_session.sh"
vantor=$(readlink -f "$1")
first_frame=$(readlink -f "$2")

start_xvfb
line=$(cd "$SMOKE_TMP" && "$first_frame" --keep Vantor 600 0 400 "$vantor" 2>"$SMOKE_TMP/out") ||
    fail "no first frame: $(cat "$SMOKE_TMP/out")"
read -r ms APP_PID <<<"$line"
awk -v ms="$ms" 'BEGIN {exit !(ms < 1500)}' || fail "the first frame took $ms ms"
id=$(wait_for_window Vantor) || fail "no window"

# Out of the intro (it runs out after two seconds) to the title screen, whose start control is red.
sleep 2
for _ in $(seq 40); do
    xdotool mousemove --window "$id" 300 60 click 1
    sleep 0.25
    [[ $(pixel "$id" 330 350) != '#000000' ]] && break
done
[[ $(pixel "$id" 330 350) != '#000000' ]] || fail "the title screen did not open"

# SDL's audio thread (named SDLAudioP1 and so on) lives as long as the device is open.
audio_threads() {
    cat /proc/"$APP_PID"/task/*/comm 2>/dev/null | grep -c '^SDLAudio' || true
}
for _ in $(seq 50); do
    (($(audio_threads) == 0)) && break
    sleep 0.1
done
(($(audio_threads) == 0)) || fail "the sound device stayed open on the quiet title screen"

# Quiet now: the game sleeps between ticks.
before=$(cpu_ns "$APP_PID")
start=$(date +%s%N)
sleep 3
used=$(($(cpu_ns "$APP_PID") - before))
wall=$(($(date +%s%N) - start))
share=$(awk -v c="$used" -v w="$wall" 'BEGIN {printf "%.2f", 100 * c / w}')
awk -v s="$share" 'BEGIN {exit !(s < 1.5)}' || fail "the title screen kept $share% of a core busy"

# Start plays the map's swell: the device opens again.
xdotool mousemove --window "$id" 380 342 click 1
for _ in $(seq 50); do
    (($(audio_threads) > 0)) && break
    sleep 0.1
done
(($(audio_threads) > 0)) || fail "the sound device did not open again for the start's sound"

hwm=$(status_kib "$APP_PID" VmHWM)
if grep -q libasan "/proc/$APP_PID/maps"; then
    memory="not checked under the sanitizers"
else
    ((hwm < 32 * 1024)) || fail "the game held $hwm KiB"
    memory="$hwm KiB at most"
fi
echo "PASS (first frame $ms ms, title screen $share% of a core, the quiet sound device closed and opened again, $memory)"
