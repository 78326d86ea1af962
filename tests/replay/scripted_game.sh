#!/bin/bash
# A scenario's scripted game recorded with vantor-sim --record and played back with --replay --check:
# every recorded hash matches, and the replay ends in the state the script ended in.
#   scripted_game.sh VANTOR_SIM SCENARIO_DIR
set -euo pipefail
sim=$1
scenario=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$scenario"/*.map "$scenario"/*.tac "$work"/ 2>/dev/null || true
# shellcheck disable=SC2046  # the scenario's arguments, word by word
"$sim" --dir "$work" $(cat "$scenario/args" 2>/dev/null) --record "$work/game.vrp" "$scenario/script.sim" >"$work/script.out"
"$sim" --dir "$work" --replay "$work/game.vrp" --check >"$work/replay.out"
grep -q '^check: [0-9]* hashes match$' "$work/replay.out" || { cat "$work/replay.out" >&2; exit 1; }
# The script's last full state line is the state the replay ends in.
script_state=$(grep '^{"timer_mode"' "$work/script.out" | tail -1)
replay_state=$(head -1 "$work/replay.out")
if [[ $script_state != "$replay_state" ]]; then
    echo "the script ended in   $script_state" >&2
    echo "the replay ended in   $replay_state" >&2
    exit 1
fi
echo "$(tail -1 "$work/replay.out"), and the replay ends as the script did"
