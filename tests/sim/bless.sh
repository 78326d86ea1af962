#!/bin/sh
# Runs golden scenarios and writes what they print into their expected.txt (and exitcode).
#   tests/sim/bless.sh [-B BUILD_DIR] NAME...     (or --all for every scenario)
# BUILD_DIR holds the vantor-sim to use: -B, else $VANTOR_BUILD_DIR, else build/asan or build/release.
# Read the diff it prints before committing: a blessed output is only as right as the game was.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${VANTOR_BUILD_DIR:-}
if [ "${1:-}" = "-B" ]; then
    build=$2
    shift 2
fi
if [ -z "$build" ]; then
    for candidate in "$root/build/asan" "$root/build/release"; do
        if [ -x "$candidate/vantor-sim" ]; then build=$candidate; break; fi
    done
fi
sim=${build:+$build/vantor-sim}
if [ -z "$sim" ] || [ ! -x "$sim" ]; then
    echo "bless.sh: no vantor-sim found; build it and pass -B BUILD_DIR" >&2
    exit 2
fi
if [ $# -eq 0 ]; then
    echo "usage: bless.sh [-B BUILD_DIR] NAME... | --all" >&2
    exit 2
fi
if [ "$1" = "--all" ]; then
    set --
    for script in "$here"/*/script.sim; do set -- "$@" "$(basename "$(dirname "$script")")"; done
fi
for name in "$@"; do
    name=${name%/}
    name=${name##*/}
    if [ ! -f "$here/$name/script.sim" ]; then
        echo "bless.sh: no scenario $name (tests/sim/$name/script.sim)" >&2
        exit 2
    fi
    cmake -DSIM="$sim" -DSCENARIO="$here/$name" -DWORK="${TMPDIR:-/tmp}/vantor-bless-$$/$name" -DBLESS=ON \
        -P "$root/cmake/RunSimScenario.cmake"
    # Show what changed, or the whole output of a new scenario.
    if git -C "$root" ls-files --error-unmatch "tests/sim/$name/expected.txt" >/dev/null 2>&1; then
        git -C "$root" --no-pager diff -- "tests/sim/$name/expected.txt" "tests/sim/$name/exitcode" || true
    else
        echo "--- new tests/sim/$name/expected.txt:"
        cat "$here/$name/expected.txt"
    fi
done
rm -rf "${TMPDIR:-/tmp}/vantor-bless-$$"
