#!/usr/bin/env bash
# Takes the screenshots of docs/screens with vantor-sim and turns them into PNG files.
# Needs ImageMagick's convert (Debian: imagemagick).
# Usage: docs/screens/make.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/release}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/vantor-sim" --dir "$work" --seed 3 "$here/screens.sim" >/dev/null
for shot in intro title play gameover; do
    convert "$work/$shot.bmp" -strip "$here/$shot.png"
done
echo "docs/screens: intro.png title.png play.png gameover.png"
