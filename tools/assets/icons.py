#!/usr/bin/python3
"""Draws the desktop icon: the chrome "V" of the title lettering, glowing red, on a
rounded plate of the title's plotting board with a missile track across it, at 32,
64 and 128 pixels for the desktop and 192 and 512 for the browser's installed page. Everything is computed, so two runs draw the same pixels.

Usage: icons.py [--check] [ROOT]
  ROOT defaults to the checkout this tool lives in. Writes
  ROOT/desktop/icons/vantor-{32,64,128,192,512}.png (RGBA, transparent outside the plate).
  --check compares the pixels of the committed files with a fresh drawing instead
  of writing anything; exit status 1 when one differs or is missing.
"""

import io
import os
import sys

import numpy as np
from PIL import Image

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import art_glyphs  # noqa: E402
import art_logo  # noqa: E402
import art_paint as P  # noqa: E402

SIZES = (32, 64, 128, 192, 512)
# The title's board colours and the red of its glow and tracks.
BOARD = [(0, (10, 16, 24)), (0.55, (16, 24, 33)), (1, (6, 9, 13))]
GRID = (24, 40, 48)
TRACK = (196, 58, 38)
GLOW = (220, 34, 22)


def plate_mask(n):
    """A rounded square filling the icon but for a margin of n / 32."""
    m = n / 32.0
    r = n * 0.17
    mask = P.Mask(n, n, 8)
    mask.rect(m + r, m, n - m - r, n - m).rect(m, m + r, n - m, n - m - r)
    for cx in (m + r, n - m - r):
        for cy in (m + r, n - m - r):
            mask.ellipse(cx, cy, r)
    return mask.get()


def board(n, plate):
    """The plate: the dark board, its grid (where there are pixels enough for it), a dotted track
    rising from the lower left, and a bevelled rim."""
    k = n / 128.0
    img = P.vgradient(n, n, BOARD)
    if n >= 64:
        yy, xx = np.mgrid[0:n, 0:n]
        step = int(round(16 * k))
        grid = ((xx % step == step // 2) | (yy % step == step // 2)).astype(float)
        P.blend(img, grid * 0.45, GRID)
    track = P.Mask(n, n, 8)
    x0, y0, x1, y1, height = 12 * k, 112 * k, 118 * k, 70 * k, 70 * k
    steps = 24
    for i in range(0, steps, 2):
        seg = [(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t - height * 4 * t * (1 - t))
               for t in (i / steps, (i + 1) / steps)]
        track.line(seg, max(1.0, 2.2 * k))
    P.blend(img, track.get() * 0.8, TRACK)
    rim = np.clip(plate - np.roll(np.roll(plate, max(1, round(3 * k)), 0), max(1, round(3 * k)), 1), 0, 1)
    P.blend(img, rim * 0.6, P.PLATE_HI)
    shade = np.clip(plate - np.roll(np.roll(plate, -max(1, round(3 * k)), 0), -max(1, round(3 * k)), 1), 0, 1)
    P.blend(img, shade * 0.8, P.PLATE_LO)
    return img


def icon(n):
    """The icon of n x n pixels as an (n, n, 4) array of bytes."""
    k = n / 128.0
    plate = plate_mask(n)
    img = board(n, plate)
    height = 84 * k
    x = (n - art_glyphs.word_width("V", height)) / 2.0
    art_logo.lettering(img, "V", x, (n - height) / 2.0 - 2 * k, height, glow_colour=GLOW,
                       glow_radius=max(1.2, 7 * k), glow_strength=1.6, outline_px=max(0.6, 2.0 * k),
                       shadow_offset=(max(1, round(3 * k)), max(1, round(4 * k))))
    rgba = np.zeros((n, n, 4), dtype=np.uint8)
    rgba[:, :, :3] = P.to_u8(img)
    rgba[:, :, 3] = P.to_u8(plate * 255.0)
    return rgba


def png_bytes(rgba):
    buf = io.BytesIO()
    Image.fromarray(rgba, "RGBA").save(buf, format="PNG", optimize=False, compress_level=9)
    return buf.getvalue()


def path_of(root, n):
    return os.path.join(root, "desktop", "icons", "vantor-%d.png" % n)


def check(root):
    bad = 0
    for n in SIZES:
        path = path_of(root, n)
        if not os.path.exists(path):
            print("missing:", os.path.relpath(path, root))
            bad = 1
            continue
        with Image.open(path) as im:
            committed = np.asarray(im.convert("RGBA"))
        if committed.shape != (n, n, 4) or not np.array_equal(committed, icon(n)):
            print("differs from a fresh drawing:", os.path.relpath(path, root))
            bad = 1
    if not bad:
        print("icons match a fresh drawing")
    return bad


def main(argv):
    args = [a for a in argv if a != "--check"]
    root = args[0] if args else os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    if "--check" in argv:
        return check(root)
    for n in SIZES:
        path = path_of(root, n)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(png_bytes(icon(n)))
        print("wrote", os.path.relpath(path, root))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
