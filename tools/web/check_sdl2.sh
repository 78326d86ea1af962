#!/bin/bash
# Checks the SDL2 of tools/web/prepare.sh in a browser: builds a tiny SDL2 page, serves it on 127.0.0.1 and screenshots it with headless Chromium.
set -euo pipefail

if (($# != 1)); then
    echo "Usage: $0 BUILD_DIR" >&2
    exit 2
fi
here=$(dirname "$(readlink -f "$0")")
build=$(cd "$1" && pwd)
if [[ ! -f $build/emenv.sh || ! -f $build/sdl2-web/.prepared ]]; then
    echo "Run tools/web/prepare.sh $1 first" >&2
    exit 1
fi
# shellcheck source=/dev/null
source "$build/emenv.sh"
"$here/../install_packages.sh" chromium pkg-config python3

out=$build/sdl2-check
rm -rf "$out"
mkdir -p "$out/site"

# emcc writes .js and .wasm; its own HTML output fails in its minifier, so the page is ours.
# The flags come from SDL2's pkg-config file, which this also checks.
read -r -a sdl_flags <<<"$(PKG_CONFIG_LIBDIR=$SDL2_WEB/lib/pkgconfig pkg-config --cflags --libs sdl2)"
emcc -O2 "$here/check_sdl2.c" "${sdl_flags[@]}" -o "$out/site/check.js"
cat >"$out/site/index.html" <<'EOF'
<!doctype html>
<html>
<head><meta charset="utf-8"><title>SDL2 check</title></head>
<body style="margin:0; background:#808080">
<canvas id="canvas" width="600" height="460" oncontextmenu="event.preventDefault()"></canvas>
<script>var Module = {canvas: document.getElementById('canvas')};</script>
<script src="check.js"></script>
</body>
</html>
EOF

# A server of our own on a free port of 127.0.0.1, stopped (by its id) when this script ends.
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$out/site" >"$out/server.log" 2>&1 &
server=$!
profile=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$profile"' EXIT
port=
for _ in $(seq 50); do
    port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$out/server.log" | head -n 1)
    [[ -n $port ]] && break
    sleep 0.1
done
[[ -n $port ]] || { cat "$out/server.log" >&2; echo "The web server did not start" >&2; exit 1; }

# The page's console (SDL's printf) goes to chromium.log through --enable-logging.
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --enable-logging=stderr --v=0 \
    --window-size=800,600 --virtual-time-budget=5000 \
    --screenshot="$out/screenshot.png" "http://127.0.0.1:$port/index.html" >"$out/chromium.log" 2>&1 || true
[[ -f $out/screenshot.png ]] || { tail -n 20 "$out/chromium.log" >&2; echo "No screenshot" >&2; exit 1; }
grep -o 'SDL [0-9.]*, renderer [a-z0-9_]*' "$out/chromium.log" | head -n 1 || true

# The canvas is at the page's top left: red inside the rectangle, dark blue around it.
/usr/bin/python3 - "$out/screenshot.png" <<'EOF'
import sys
try:
    from PIL import Image
except ImportError:
    sys.exit(print(f"python3-pil is missing: look at {sys.argv[1]} yourself") or 0)
image = Image.open(sys.argv[1]).convert("RGB")
inside, outside = image.getpixel((300, 230)), image.getpixel((50, 50))
print(f"Pixel at (300,230): {inside}, at (50,50): {outside}")
if inside[0] < 200 or max(inside[1:]) > 60 or outside[2] < 40 or max(outside[:2]) > 30:
    sys.exit("SDL2 check FAILED: the canvas does not show the red rectangle on dark blue")
print("SDL2 check passed")
EOF
echo "Screenshot: $out/screenshot.png"
