#!/bin/bash
# The game whose X server goes away ends (with an error) instead of hanging on the dead display.
# Usage: display_lost_test.sh VANTOR
source "$(dirname "$0")/x_session.sh"
vantor=$1

start_xvfb
start_app "$vantor"
wait_for_window Vantor >/dev/null || fail "no window titled Vantor; output: $(cat "$SMOKE_TMP/out")"
sleep 0.5
stop "$XVFB_PID"
XVFB_PID=
rc=0
wait_for_exit 10 || rc=$?
[[ $rc != 0 ]] || fail "exit code 0 although the display was lost"
echo "PASS (exit code $rc: $(head -n1 "$SMOKE_TMP/out"))"
