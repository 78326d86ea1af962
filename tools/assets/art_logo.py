"""The title lettering "VANTOR" and the other outline lettering, with their finishes."""

import numpy as np

import art_glyphs
import art_paint as P

CHROME = [(0.0, (246, 248, 250)), (0.42, (168, 178, 186)), (0.5, (70, 76, 84)),
          (0.56, (112, 120, 128)), (1.0, (226, 230, 234))]
STEEL = [(0.0, (238, 242, 245)), (1.0, (150, 158, 166))]


def word_mask(word, height, w, h, x, y, spacing=14.0, ss=6):
    """Coverage of a word in outline letters with its top left at (x, y) of a w x h area."""
    shapes, _ = art_glyphs.word_shapes(word, height, x, y, spacing)
    return P.Mask(w, h, ss).shapes(shapes).get()


def dilate(mask, r):
    """A grown copy of a coverage mask (soft edge kept)."""
    return np.clip(P.blur(mask, r * 0.5) * 3.0, 0, 1) if r > 0 else mask


def lettering(img, word, x, y, height, fill=CHROME, spacing=14.0, outline=(8, 10, 12),
              outline_px=1.0, shadow=(0, 0, 0), shadow_offset=(2, 2), shadow_alpha=0.7,
              glow_colour=None, glow_radius=0.0, glow_strength=1.0, bevel=0.9):
    """Draws finished lettering into img: glow, drop shadow, dark outline,
    gradient fill and a bevel lit from the top left."""
    h, w, _ = img.shape
    mask = word_mask(word, height, w, h, x, y, spacing)
    if glow_colour is not None:
        P.blend(img, P.glow(mask, glow_radius, glow_strength) * (1 - mask), glow_colour)
    if shadow_alpha > 0:
        dx, dy = shadow_offset
        sh = np.roll(np.roll(dilate(mask, outline_px), dy, 0), dx, 1)
        P.blend(img, P.blur(sh, 0.8) * shadow_alpha, shadow)
    if outline_px > 0:
        P.blend(img, dilate(mask, outline_px), outline)
    # The fill gradient runs over the letter height.
    rows = P.vgradient(int(round(height)), 1, fill)[:, 0, :]
    col = np.zeros((h, w, 3))
    top = int(round(y))
    for j in range(h):
        k = min(max(j - top, 0), len(rows) - 1)
        col[j, :] = rows[k]
    if bevel:
        light = P.emboss(mask, max(0.6, height / 60.0)) * bevel * 4.0
        col = col * (1.0 + np.clip(light, -0.6, 0.8)[:, :, None])
    P.blend(img, mask, np.clip(col, 0, 255))
    return mask
