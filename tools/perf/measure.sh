#!/bin/bash
# Measures Vantor for docs/PERFORMANCE.md: builds the release game, vantor-sim and the engine
# benchmark in a build directory of their own, then prints the report of tools/perf/measure.py
# (start-up, idle CPU, memory, click latency in a private Xvfb; tick cost and games per second
# headless), every figure a median of RUNS runs. Takes some 10 minutes with 5 runs.
# Usage: tools/perf/measure.sh [RUNS [BUILD_DIR]]   (default 5 runs, build/perf)
set -euo pipefail
root=$(dirname "$(dirname "$(dirname "$(readlink -f "$0")")")")
runs=${1:-5}
build=$(readlink -f "${2:-$root/build/perf}")

"$root/tools/install_packages.sh"
[[ -f $build/CMakeCache.txt ]] ||
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTOR_BENCHMARKS=ON -DVANTOR_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target vantor vantor-sim vantor_bench >/dev/null

exec /usr/bin/python3 "$root/tools/perf/measure.py" --runs "$runs" \
    --vantor "$build/vantor" --sim "$build/vantor-sim" --bench "$build/bench/vantor_bench" \
    --json "$build/perf.json"
