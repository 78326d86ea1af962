"""The game's 7 x 16 text font: hand-drawn glyphs smoothed with two greys."""

import numpy as np

import art_glyphs

CELL_W, CELL_H = 7, 16
# Palette of the font bitmap, darkest first: index 3 is the lit ink.
PALETTE = [(0, 0, 0), (88, 88, 88), (168, 168, 168), (255, 255, 255)]


def smooth(lit):
    """Greys for a binary glyph: a dark pixel in the crook of a diagonal step
    (two lit neighbours at right angles with a dark pixel between them) turns
    dark grey, or light grey when it sits in two such crooks."""
    h, w = lit.shape
    p = np.pad(lit, 1)
    n, s = p[:-2, 1:-1], p[2:, 1:-1]
    wv, e = p[1:-1, :-2], p[1:-1, 2:]
    nw, ne, sw, se = p[:-2, :-2], p[:-2, 2:], p[2:, :-2], p[2:, 2:]
    crooks = ((n & e & ~ne) + (e & s & ~se) + (s & wv & ~sw) + (wv & n & ~nw)).astype(int)
    levels = np.where(lit, 3, 0)
    levels = np.where(~lit & (crooks == 1), 1, levels)
    levels = np.where(~lit & (crooks >= 2), 2, levels)
    return levels


def glyph_levels(ch):
    """The 16 x 7 palette indices of one glyph."""
    rows = art_glyphs.GLYPHS[ch]
    lit = np.zeros((CELL_H, CELL_W), dtype=bool)
    top = art_glyphs.GLYPH_TOP - (len(rows) - 11) // 2
    for j, row in enumerate(art_glyphs.bits(rows)):
        lit[top + j, 1:1 + len(row)] = np.array(row, dtype=bool)
    levels = smooth(lit)
    # Semi-bold: a light grey shadow right of every stroke gives the thin
    # strokes more weight without closing up the counters.
    weight = np.zeros_like(lit)
    weight[:, 1:] = lit[:, :-1]
    weight &= ~lit
    levels[weight] = np.maximum(levels[weight], 2)
    return levels


def dash_levels():
    """The dash as the text routine draws it, from a row of another glyph."""
    levels = np.zeros((CELL_H, CELL_W), dtype=np.uint8)
    levels[art_glyphs.DASH_ROW] = glyph_levels(art_glyphs.DASH_FROM)[art_glyphs.DASH_FROM_ROW]
    return levels


def font_indices():
    """The whole 280 x 16 font bitmap as palette indices."""
    out = np.zeros((CELL_H, CELL_W * len(art_glyphs.FONT_ORDER)), dtype=np.uint8)
    for g, ch in enumerate(art_glyphs.FONT_ORDER):
        out[:, CELL_W * g:CELL_W * (g + 1)] = glyph_levels(ch)
    return out


def font_rgb():
    return np.array(PALETTE, dtype=np.uint8)[font_indices()]


def font_alpha():
    """Each character's glyph as coverage 0..1, for tinted lettering in the artwork."""
    cover = np.array([0.0, 0.34, 0.66, 1.0])
    cells = {}
    for ch in art_glyphs.FONT_ORDER:
        cells[ch] = cover[glyph_levels(ch)]
    return cells
