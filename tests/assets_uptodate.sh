#!/usr/bin/env bash
# Regenerates the resources of one asset generator into a scratch directory and compares them byte
# for byte with the committed files: every file it writes must be committed unchanged, and every
# committed file of its kind must still come out of it. The artwork must also keep its layout rules
# (artwork.py --check). Exits 77 (skipped) when the generator's tools are not installed.
#
# Usage: tests/assets_uptodate.sh artwork|sounds|maps|world
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
name=${1:?usage: assets_uptodate.sh artwork|sounds|maps|world}
skip() {
    echo "skipped: $*"
    exit 77
}

/usr/bin/python3 -c 'import numpy, PIL' 2>/dev/null || skip "/usr/bin/python3 lacks numpy or PIL (python3-numpy, python3-pil)"
cd "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $name in
    artwork) committed=(resources/bitmaps/*.bmp) ;;
    sounds) committed=(resources/sounds/*.wav) ;;
    maps) mapfile -t committed < <(ls resources/maps/*.map resources/maps/*.tac | grep -v '/World\.') ;;
    world)
        command -v gmt >/dev/null || skip "gmt is not installed"
        command -v gs >/dev/null || skip "ghostscript is not installed"
        [[ -r $(gmt --show-sharedir)/dcw/dcw-countries.txt ]] || skip "gmt-dcw is not installed"
        # A tiny coastline plot, in the scratch directory that takes GMT's history file.
        (cd "$work" && gmt pscoast -Dl -R0/10/50/60 -JM1i -W -P) >/dev/null 2>&1 ||
            skip "gmt has no low-resolution coastlines (gmt-gshhg-low)"
        committed=(resources/maps/World.map resources/maps/World.tac)
        ;;
    *)
        echo "assets_uptodate: unknown generator $name" >&2
        exit 2
        ;;
esac

if ! tools/assets/generate --only "$name" "$work" >"$work/log" 2>&1; then
    cat "$work/log"
    echo "assets_uptodate: the $name generator failed" >&2
    exit 1
fi

stale=0
mapfile -t made < <(cd "$work" && find resources -type f | sort)
for file in "${made[@]}"; do
    if [[ ! -f $file ]]; then
        echo "not committed: $file"
        stale=1
    elif ! cmp -s "$work/$file" "$file"; then
        echo "differs from a fresh run: $file"
        stale=1
    fi
done
for file in "${committed[@]}"; do
    [[ -f $work/$file ]] || { echo "no longer generated: $file"; stale=1; }
done
if ((stale)); then
    echo "Run tools/assets/generate --only $name and commit the result." >&2
    exit 1
fi
echo "$name: ${#made[@]} files up to date"
# The artwork's layout rules, and its grey-out over the built-in maps.
if [[ $name == artwork ]]; then
    /usr/bin/python3 tools/assets/artwork.py --check | tail -n 20
    exit "${PIPESTATUS[0]}"
fi
