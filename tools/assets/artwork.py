#!/usr/bin/python3
"""Draws the game's four bitmaps (sprite sheet, panel, title picture, font)
and PNG previews of them. Everything is computed, so two runs write the same bytes.

Usage: artwork.py [--check] [ROOT]
  ROOT defaults to the checkout this tool lives in. Writes
  ROOT/resources/bitmaps/{PanelGFX,PanelImage,Titlegfx,Fontgfx}.bmp and
  ROOT/docs/art/{panelgfx-sheet,title,panel}.png.
  --check verifies the files under ROOT against a fresh drawing and the
  layout rules instead of writing anything.
"""

import io
import os
import sys

import numpy as np
from PIL import Image

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import art_bmp  # noqa: E402
import art_font  # noqa: E402
import art_glyphs  # noqa: E402
import art_paint as P  # noqa: E402
import art_panel  # noqa: E402
import art_sheet  # noqa: E402
import art_title  # noqa: E402


def build_all():
    """name -> (pixels, BMP bytes) for the four bitmaps."""
    sheet = art_sheet.build()
    panel = art_panel.build()
    title = art_title.build()
    font = art_font.font_indices()
    return {
        "PanelGFX": (sheet, art_bmp.bmp24_bytes(sheet)),
        "PanelImage": (panel, art_bmp.bmp24_bytes(panel)),
        "Titlegfx": (title, art_bmp.bmp24_bytes(title)),
        "Fontgfx": (font, art_bmp.bmp8_bytes(font, art_font.PALETTE)),
    }


# ---------------------------------------------------------------- previews
# They draw what the game would draw over the pictures, with sample values.


def blit(dst, x, y, src):
    dst[y:y + src.shape[0], x:x + src.shape[1]] = src


def blittext(dst, x, y, text, font_rgb):
    for ch in text:
        g = art_glyphs.FONT_ORDER.index(ch) if ch in art_glyphs.FONT_ORDER else 0
        blit(dst, x, y, font_rgb[:, 7 * g:7 * g + 7])
        x += 7


def title_preview(title, panel, sheet, font_rgb):
    """The title screen as the game shows it with its default options."""
    win = np.concatenate([title, panel], axis=0).copy()
    blittext(win, 190, 200, "WORLD".ljust(31), font_rgb)
    for (x, y), value in zip(art_title.NUMBERS, ("15", "06", "03", "20")):
        blittext(win, x, y, value, font_rgb)
    cpu = (False, True, False, False)
    for p, (x, y) in enumerate(art_title.PLAYER_BOXES):
        row = 425 if cpu[p] else 400
        blit(win, x, y, sheet[row:row + 25, 25 * p:25 * p + 25])
    nw = art_sheet.NARROW_W
    (rx, ry), (px, py) = art_sheet.NARROW_RAISED, art_sheet.NARROW_PRESSED
    for left, right in [art_title.MAP_ARROWS] + art_title.ROW_ARROWS:
        blit(win, left[0], left[1], sheet[50:75, 0:25])
        if right[0] == art_title.NARROW_X:
            blit(win, right[0], right[1], sheet[ry:ry + 25, rx:rx + nw])
        else:
            blit(win, right[0], right[1], sheet[50:75, 25:50])
    blit(win, 420, 240, sheet[py:py + 25, px:px + nw])  # one arrow held down
    return win


def sample_map(w, h):
    """A scrap of land and sea for the close-up of the panel preview."""
    n = P.blur(P.hash_noise((h, w), 4242), 6.0)
    land = n > np.median(n)
    img = np.zeros((h, w, 3))
    img[land] = (70, 104, 52)
    img[~land] = (18, 46, 96)
    return P.to_u8(img)


def aim(panel, bearing, power, tint):
    """The needle on the dial and the mark in the power gauge, as the game draws them."""
    cx, cy, r = art_panel.DIAL
    a = np.radians(bearing)
    for k in range(20):
        dx, dy = np.sin(a) * k, np.cos(a) * k
        panel[cy - int(np.copysign(np.floor(abs(dy) + 0.5), dy)),
              cx + int(np.copysign(np.floor(abs(dx) + 0.5), dx))] = tint
    gx, gy, gw, gh = art_panel.GAUGE
    level = gy + gh - 1 - min(power, 99) // 2
    panel[level - 1:level + 1, gx + 1:gx + gw - 1] = tint


def panel_preview(panel, sheet, font_rgb):
    """The panel as is, and below it in play with a red silo selected, aimed at 045 with power 60."""
    live = panel.copy()
    closeup = sample_map(100, 50)
    for x, y, flag in ((46, 21, 2), (14, 8, 1), (78, 34, 1), (70, 6, 4)):
        icon = sheet[0:9, 10 * (flag - 1):10 * (flag - 1) + 9]
        blit(closeup, x, y, closeup[y:y + 9, x:x + 9] | icon)
    blit(closeup, 44, 19, closeup[19:32, 44:57] | sheet[0:13, 40:53])
    blit(live, 5, 5, closeup)
    blittext(live, 117, 7, "GREYSTONE".ljust(16), font_rgb)
    blit(live, 110, 30, sheet[300:325, 0:60])
    blit(live, 175, 30, sheet[100:125, 0:60])
    blittext(live, 435, 7, "045", font_rgb)
    blittext(live, 492, 7, "60", font_rgb)
    for x, cell in ((420, 0), (445, 25), (475, 0), (500, 25)):
        blit(live, x, 30, sheet[50:75, cell:cell + 25])
    aim(live, 45, 60, (255, 96, 96))
    gap = np.full((6, panel.shape[1], 3), 24, dtype=np.uint8)
    return np.concatenate([panel, gap, live], axis=0)


def sheet_contact(sheet, scale=4):
    """The sprite sheet enlarged with a 10-pixel grid and coordinates in the margins."""
    h, w, _ = sheet.shape
    margin = 24
    out = np.full((h * scale + margin, w * scale + margin, 3), 28.0)
    out[margin:, margin:] = np.repeat(np.repeat(sheet, scale, axis=0), scale, axis=1)
    for gx in range(0, w + 1, 10):
        x = margin + gx * scale - (1 if gx == w else 0)
        out[margin:, x] = out[margin:, x] * 0.4 + np.array((60, 110, 160)) * 0.6
    for gy in range(0, h + 1, 10):
        y = margin + gy * scale - (1 if gy == h else 0)
        out[y, margin:] = out[y, margin:] * 0.4 + np.array((60, 110, 160)) * 0.6
    for gx in range(0, w, 10):
        P.micro_text(out, margin + gx * scale + 2, 9, str(gx), (190, 196, 200))
    for gy in range(0, h, 25):
        P.micro_text(out, 2, margin + gy * scale + 2, str(gy), (190, 196, 200))
    return P.to_u8(out)


def png_bytes(rgb):
    buf = io.BytesIO()
    Image.fromarray(rgb).save(buf, format="PNG", optimize=False, compress_level=9)
    return buf.getvalue()


def previews(built):
    sheet, panel, title = built["PanelGFX"][0], built["PanelImage"][0], built["Titlegfx"][0]
    font_rgb = np.array(art_font.PALETTE, dtype=np.uint8)[built["Fontgfx"][0]]
    return {
        "panelgfx-sheet.png": png_bytes(sheet_contact(sheet)),
        "title.png": png_bytes(title_preview(title, panel, sheet, font_rgb)),
        "panel.png": png_bytes(panel_preview(panel, sheet, font_rgb)),
    }


# ---------------------------------------------------------------- main


def outputs(root):
    built = build_all()
    files = {os.path.join(root, "resources", "bitmaps", name + ".bmp"): data
             for name, (_, data) in built.items()}
    for name, data in previews(built).items():
        files[os.path.join(root, "docs", "art", name)] = data
    return built, files


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    root = args[0] if args else os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    built, files = outputs(root)
    if check:
        import art_check
        return art_check.run(root, built, files, build_all)
    for path, data in files.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        art_bmp.write_file(path, data)
        print("wrote", os.path.relpath(path, root))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
