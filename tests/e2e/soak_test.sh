#!/bin/bash
# Computer-only games in a row under valgrind: memcheck finds no leak and no memory error in GAMES
# games, and the heap's peak (massif) after GAMES games is the peak after 5, so nothing piles up from
# game to game. Peak resident memory is printed for the record. Exit 77 when valgrind is missing.
# Usage: soak_test.sh VANTOR_SIM [GAMES]
set -euo pipefail
sim=$1
games=${2:-20}
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vantor-soak.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

run=(--seed 1 --tournament)
# Every kind of leak counts, also memory still reachable through a pointer at exit that the game
# should have freed.
valgrind --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
    --error-exitcode=1 --log-file="$tmp/memcheck.txt" "$sim" "${run[@]}" "$games" --no-timing >"$tmp/games.txt" ||
    { cat "$tmp/memcheck.txt" >&2; fail "memcheck found errors or leaks in $games games"; }
grep -q "^summary games $games " "$tmp/games.txt" || fail "the tournament did not finish: $(tail -n 3 "$tmp/games.txt")"
grep -E "ERROR SUMMARY|in use at exit|definitely lost|indirectly lost|possibly lost" "$tmp/memcheck.txt" | sed 's/^==[0-9]*== */memcheck: /'
grep "^summary" "$tmp/games.txt"

# The heap's highest point, in bytes, over a tournament of N games.
peak_heap() {
    valgrind --tool=massif --massif-out-file="$tmp/massif.$1" "$sim" "${run[@]}" "$1" --no-timing >/dev/null 2>&1
    sed -n 's/^mem_heap_B=//p' "$tmp/massif.$1" | sort -n | tail -n1
}
peak_rss() {
    /usr/bin/time -f %M "$sim" "${run[@]}" "$1" --no-timing 2>&1 >/dev/null | tail -n1
}
few=$(peak_heap 5)
many=$(peak_heap "$games")
echo "peak heap: $few bytes after 5 games, $many bytes after $games games"
echo "peak resident memory: $(peak_rss 5) KB after 5 games, $(peak_rss "$games") KB after $games games"
((many <= few)) || fail "the heap grows from game to game: peak $few bytes after 5 games, $many after $games"
echo "PASS"
