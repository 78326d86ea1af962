#!/bin/bash
# The long run of docs/PERFORMANCE.md: 2,000 computer-only games under AddressSanitizer and
# UndefinedBehaviorSanitizer and 20,000 in the release build, over the four built-in maps and 2 to 4
# sides, each game's invariants and replay checked (tools/perf/long_run.py), in the asan and release
# presets' builds. Both runs go at nice 15; their reports and any failing tournament's output land in build/long-run/.
#   tools/perf/long_run.sh [SANITIZER_GAMES [RELEASE_GAMES [JOBS]]]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sanitizer_games=${1:-2000}
release_games=${2:-20000}
jobs=${3:-$(nproc)}
out="$root/build/long-run"
mkdir -p "$out"
cd "$root"

for preset in asan release; do
    [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target vantor-sim
done

status=0
nice -n 15 tools/perf/long_run.py --sim build/asan/vantor-sim --games "$sanitizer_games" --chunk 10 \
    --jobs "$jobs" --out "$out/sanitizer-logs" | tee "$out/sanitizer.txt" || status=1
nice -n 15 tools/perf/long_run.py --sim build/release/vantor-sim --games "$release_games" --jobs "$jobs" \
    --out "$out/release-logs" | tee "$out/release.txt" || status=1
exit $status
