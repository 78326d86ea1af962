#!/bin/bash
# Start-up time, memory and idle CPU of the game under a private Xvfb, over several runs.
# Each run starts the game and times it to its first drawn frame (the panel's top-left pixel on
# screen), clicks through the intro to the title screen and measures there, then starts a game of
# four human sides and measures again during the first side's turn, while the cursor blinks.
# CPU is the time all of the game's threads ran (from /proc/PID/task/*/schedstat), as a share of
# one core over the quiet stretch; the main thread's share is shown beside it. Prints every run and
# then the median of each figure.
# Usage: measure_footprint.sh VANTOR X_FIRST_FRAME [RUNS [SECONDS [SCREEN]]]
#   RUNS 5, SECONDS 10 and SCREEN 1024x768 unless given. Sound goes to SDL's silent driver, or to
#   the driver that MEASURE_AUDIODRIVER names.
source "$(dirname "$0")/x_session.sh"
vantor=$(readlink -f "$1")
first_frame=$(readlink -f "$2")
runs=${3:-5}
seconds=${4:-10}
screen=${5:-1024x768}
export SDL_AUDIODRIVER=${MEASURE_AUDIODRIVER:-dummy}

# Share of one core, in percent, of CPU nanoseconds $1 over wall nanoseconds $2.
share() {
    awk -v c="$1" -v w="$2" 'BEGIN {printf "%.3f", 100 * c / w}'
}

# Per-thread CPU nanoseconds of process $1, a "TID NS" line each.
thread_ns() {
    local f
    for f in /proc/"$1"/task/*/schedstat; do
        [[ -r $f ]] || continue
        f=${f%/schedstat}
        echo "${f##*/} $(cut -d' ' -f1 "$f/schedstat" 2>/dev/null || echo 0)"
    done
}

# Measures the game $1 over $seconds: prints "ALL MAIN" shares of one core. A thread that ends
# takes its time with it (its schedstat is gone), so a stretch in which one ended is measured
# again, up to three times: the sound device's thread ends a second after the last sound.
idle_cpu() {
    local before after t0 t1 all main try
    for try in 1 2 3; do
        before=$(thread_ns "$1")
        t0=$(date +%s%N)
        sleep "$seconds"
        after=$(thread_ns "$1")
        t1=$(date +%s%N)
        read -r all main < <(awk -v pid="$1" 'NR == FNR {start[$1] = $2; next}
            {now[$1] = $2}
            END {
                for (t in start) if (!(t in now)) gone = 1
                for (t in now) { d = now[t] - start[t]; all += d; if (t == pid) main = d }
                print (gone ? "gone" : all + 0), main + 0
            }' <(echo "$before") <(echo "$after"))
        [[ $all != gone ]] && break
    done
    [[ $all == gone ]] && { echo "- $(share "$main" $((t1 - t0)))"; return; }
    echo "$(share "$all" $((t1 - t0))) $(share "$main" $((t1 - t0)))"
}

# Clicks game point ($2, $3) of window $1 until the pixel at game ($4, $5) is no longer black.
click_until_drawn() {
    local s=$scale
    for _ in $(seq 60); do
        xdotool mousemove --window "$1" $(($2 * s)) $(($3 * s)) click 1
        sleep 0.25
        [[ $(pixel "$1" $(($4 * s)) $(($5 * s))) != '#000000' ]] && return 0
    done
    return 1
}

wait_until_drawn() {
    for _ in $(seq 100); do
        [[ $(pixel "$1" $(($2 * scale)) $(($3 * scale))) != '#000000' ]] && return 0
        sleep 0.1
    done
    return 1
}

median() {
    sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

start_xvfb "$screen"
# One run first that is not counted, so that every counted run finds the libraries in the page cache.
(cd "$SMOKE_TMP" && "$first_frame" Vantor 600 0 400 "$vantor" >/dev/null 2>&1)

results="$SMOKE_TMP/results"
printf '%-4s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' run first_ms \
    title_cpu title_main title_rss title_hwm turn_cpu turn_main turn_rss turn_hwm scale
for run in $(seq "$runs"); do
    line=$(cd "$SMOKE_TMP" && "$first_frame" --keep Vantor 600 0 400 "$vantor" 2>"$SMOKE_TMP/out") ||
        fail "run $run: no first frame: $(cat "$SMOKE_TMP/out")"
    read -r ms APP_PID <<<"$line"
    id=$(wait_for_window Vantor) || fail "run $run: no window"
    scale=$(($(client_size "$id" | cut -dx -f1) / 600))
    # The title lettering at (300, 60) is no control; the start control's red (330, 350) shows the title.
    sleep 2
    click_until_drawn "$id" 300 60 330 350 || fail "run $run: the title screen did not open"
    sleep 1
    read -r title_all title_main <<<"$(idle_cpu "$APP_PID")"
    title_rss=$(status_kib "$APP_PID" VmRSS)
    title_hwm=$(status_kib "$APP_PID" VmHWM)
    # Start: the units are placed, then the first side's unit shows in the panel's close-up.
    xdotool mousemove --window "$id" $((380 * scale)) $((342 * scale)) click 1
    wait_until_drawn "$id" 55 430 || fail "run $run: the game did not start"
    sleep 1
    read -r turn_all turn_main <<<"$(idle_cpu "$APP_PID")"
    turn_rss=$(status_kib "$APP_PID" VmRSS)
    turn_hwm=$(status_kib "$APP_PID" VmHWM)
    printf '%-4s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' "$run" "$ms" "$title_all" "$title_main" \
        "$title_rss" "$title_hwm" "$turn_all" "$turn_main" "$turn_rss" "$turn_hwm" "$scale" | tee -a "$results"
    stop "$APP_PID"
    APP_PID=
done

printf '%-4s' median
for column in $(seq 2 11); do
    printf ' %9s' "$(awk -v c="$column" '{print $c}' "$results" | median)"
done
echo
echo "(milliseconds; CPU in percent of one core over ${seconds} s; memory in KiB; screen $screen)"
