"""Drawing primitives for the artwork generator.

Pictures are float arrays of shape (h, w, 3) holding 0..255 RGB. Smooth shapes
are rasterised by PIL at a multiple of the target size and box-filtered down,
which gives antialiased edges that are the same on every run.
"""

import numpy as np
from PIL import Image, ImageDraw

import art_glyphs

# The house palette: gunmetal plates, amber engraving, warning red.
PLATE = (58, 63, 68)
PLATE_HI = (104, 112, 118)
PLATE_LO = (22, 25, 28)
AMBER = (236, 168, 52)
AMBER_MID = (178, 126, 44)
RED = (208, 34, 30)
RED_DARK = (96, 12, 12)

SIDE_COLOURS = [(255, 0, 0), (0, 0, 255), (255, 255, 0), (0, 255, 0)]
# An eliminated side's icons are ORed over the map, whose pixels stay at or below 176: with the top
# three bits set in every channel, the map's colour can only add its low five bits (at most 31 to any
# channel), so the grey reads as a neutral light grey on any land or sea.
GREY_SIDE = (224, 224, 224)


def canvas(w, h, colour=(0, 0, 0)):
    img = np.zeros((h, w, 3), dtype=np.float64)
    img[:, :] = colour
    return img


def to_u8(img):
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


def hash_noise(shape, seed):
    """Uniform noise in [0, 1) from a counter-based integer hash (splitmix64)."""
    n = int(np.prod(shape))
    with np.errstate(over="ignore"):
        z = np.arange(n, dtype=np.uint64) + np.uint64(seed) * np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    return ((z >> np.uint64(11)).astype(np.float64) / float(1 << 53)).reshape(shape)


def blur(a, sigma):
    """Separable Gaussian blur of a 2-D float array; outside the array counts as 0."""
    r = max(1, int(np.ceil(3 * sigma)))
    k = np.exp(-0.5 * (np.arange(-r, r + 1) / sigma) ** 2)
    k /= k.sum()
    out = np.asarray(a, dtype=np.float64)
    for axis in (0, 1):
        pad = [(0, 0), (0, 0)]
        pad[axis] = (r, r)
        p = np.pad(out, pad)
        n = out.shape[axis]
        acc = np.zeros_like(out)
        for i, w in enumerate(k):
            acc += w * (p[i:i + n] if axis == 0 else p[:, i:i + n])
        out = acc
    return out


# ---------------------------------------------------------------- coverage masks


class Mask:
    """A coverage mask drawn at ss times the size, read back as floats 0..1.

    Coordinates are continuous: pixel (i, j) covers [i, i+1) x [j, j+1).
    """

    def __init__(self, w, h, ss=8):
        self.w, self.h, self.ss = w, h, ss
        self.img = Image.new("L", (w * ss, h * ss), 0)
        self.draw = ImageDraw.Draw(self.img)

    def _pts(self, pts):
        return [(x * self.ss, y * self.ss) for x, y in pts]

    def polygon(self, pts, value=255):
        self.draw.polygon(self._pts(pts), fill=value)
        return self

    def shapes(self, shapes):
        for sign, pts in sorted(shapes, key=lambda s: -s[0]):
            self.polygon(pts, 255 if sign > 0 else 0)
        return self

    def ellipse(self, cx, cy, rx, ry=None, value=255):
        ry = rx if ry is None else ry
        s = self.ss
        self.draw.ellipse([(cx - rx) * s, (cy - ry) * s, (cx + rx) * s - 1, (cy + ry) * s - 1], fill=value)
        return self

    def ring(self, cx, cy, r_out, r_in):
        return self.ellipse(cx, cy, r_out).ellipse(cx, cy, r_in, value=0)

    def rect(self, x0, y0, x1, y1, value=255):
        return self.polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], value)

    def line(self, pts, width, value=255):
        """A polyline of the given width with square-ish joints."""
        s = self.ss
        self.draw.line(self._pts(pts), fill=value, width=max(1, int(round(width * s))), joint="curve")
        return self

    def arc(self, cx, cy, r, start, end, width, value=255):
        """Arc of a circle, angles in degrees clockwise from the +x axis."""
        s = self.ss
        box = [(cx - r) * s, (cy - r) * s, (cx + r) * s - 1, (cy + r) * s - 1]
        self.draw.arc(box, start, end, fill=value, width=max(1, int(round(width * s))))
        return self

    def get(self):
        small = self.img.resize((self.w, self.h), Image.BOX)
        return np.asarray(small, dtype=np.float64) / 255.0


def blend(img, mask, colour, x=0, y=0):
    """Lays colour (a tuple or an array the mask's size) over img at (x, y) with mask as alpha."""
    h, w = mask.shape
    region = img[y:y + h, x:x + w]
    col = np.asarray(colour, dtype=np.float64)
    if col.ndim == 1:
        col = col.reshape(1, 1, 3)
    a = mask[:, :, None]
    region[:] = region * (1 - a) + col * a


# ---------------------------------------------------------------- fills


def fill(img, x, y, w, h, colour):
    img[y:y + h, x:x + w] = colour


def vgradient(h, w, stops):
    """An (h, w, 3) vertical gradient through (position 0..1, colour) stops."""
    pos = np.array([p for p, _ in stops])
    cols = np.array([c for _, c in stops], dtype=np.float64)
    t = (np.arange(h) + 0.5) / h
    out = np.stack([np.interp(t, pos, cols[:, k]) for k in range(3)], axis=1)
    return np.repeat(out[:, None, :], w, axis=1)


def brushed(h, w, base, seed, strength=6.0):
    """A plate colour with faint horizontal brushing and grain."""
    streak = hash_noise((h, 1), seed) - 0.5
    streak = blur(np.repeat(streak, 3, axis=1), 0.6)[:, 1:2]
    grain = hash_noise((h, w), seed + 1) - 0.5
    grain = (grain + np.roll(grain, 1, axis=1) + np.roll(grain, -1, axis=1)) / 3
    shade = streak * strength * 1.4 + grain * strength
    return np.asarray(base, dtype=np.float64)[None, None, :] + shade[:, :, None]


# ---------------------------------------------------------------- bevels


def bevel(img, x, y, w, h, depth=2, raised=True, light=PLATE_HI, dark=PLATE_LO):
    """Bevelled edge just inside the rectangle: light top-left and dark bottom-right when raised."""
    top, bottom = (light, dark) if raised else (dark, light)
    for i in range(depth):
        img[y + i, x + i:x + w - i] = top
        img[y + i:y + h - i, x + i] = top
        img[y + h - 1 - i, x + i:x + w - i] = bottom
        img[y + i:y + h - i, x + w - 1 - i] = bottom
        # The two corners where light meets dark get the mean of both.
        img[y + h - 1 - i, x + i] = np.mean([top, bottom], axis=0)
        img[y + i, x + w - 1 - i] = np.mean([top, bottom], axis=0)


def sunken_box(img, x, y, w, h, depth=2, inner=(0, 0, 0)):
    """A black box at exactly (x, y, w, h) with a sunken bevel around it, outside the box."""
    bevel(img, x - depth, y - depth, w + 2 * depth, h + 2 * depth, depth, raised=False,
          light=(126, 134, 140), dark=(12, 14, 16))
    fill(img, x, y, w, h, inner)


def screw(img, cx, cy):
    """A small slotted screw head on a plate."""
    m = Mask(7, 7).ellipse(3.5, 3.5, 3.0).get()
    face = vgradient(7, 7, [(0, (190, 196, 200)), (1, (60, 64, 68))])
    shadow = Mask(7, 7).ellipse(4.0, 4.2, 3.2).get()
    blend(img, shadow * 0.6, (10, 10, 12), cx - 3, cy - 3)
    blend(img, m, face, cx - 3, cy - 3)
    slot = Mask(7, 7).line([(1.6, 5.4), (5.4, 1.6)], 0.9).get() * m
    blend(img, slot, (30, 32, 34), cx - 3, cy - 3)


def hazard(img, x, y, w, h, phase=0, period=8):
    """Yellow and black warning stripes at 45 degrees."""
    yy, xx = np.mgrid[0:h, 0:w]
    band = ((xx + yy + phase) % period) < period / 2
    region = img[y:y + h, x:x + w]
    region[band] = (214, 170, 24)
    region[~band] = (24, 22, 18)


# ---------------------------------------------------------------- lettering


def stamp(img, x, y, rows, colour, alpha=1.0):
    """Draws a bitmap glyph: lit cells of rows in colour."""
    col = np.asarray(colour, dtype=np.float64)
    for j, row in enumerate(art_glyphs.bits(rows)):
        for i, lit in enumerate(row):
            if lit:
                img[y + j, x + i] = img[y + j, x + i] * (1 - alpha) + col * alpha


def micro_text(img, x, y, text, colour, shadow=None):
    """3 x 5 label text with 1-pixel spacing; an optional shadow one pixel down-right."""
    if shadow is not None:
        micro_text(img, x + 1, y + 1, text, shadow)
    for ch in text:
        stamp(img, x, y, art_glyphs.MICRO[ch], colour)
        x += len(art_glyphs.MICRO[ch][0]) + 1


def micro_width(text):
    return sum(len(art_glyphs.MICRO[ch][0]) + 1 for ch in text) - 1


def font_text(img, x, y, text, colour, font_cells):
    """Text in the game's 7 x 16 font, tinted: font_cells maps a character to its 16 x 7 levels 0..1."""
    col = np.asarray(colour, dtype=np.float64)
    for ch in text:
        a = font_cells[ch][:, :, None]
        region = img[y:y + 16, x:x + 7]
        region[:] = region * (1 - a) + col * a
        x += 7


# ---------------------------------------------------------------- symbols


def missile_mask(w, h, cx, top, length, body, upright=True):
    """Coverage of a missile symbol: nose cone, body and fins, pointing up (or right)."""
    m = Mask(w, h)
    r = body / 2.0
    nose = length * 0.28
    fin = length * 0.22
    pts_body = [(cx - r, top + nose), (cx + r, top + nose), (cx + r, top + length - 1), (cx - r, top + length - 1)]
    pts_nose = [(cx, top), (cx + r, top + nose), (cx - r, top + nose)]
    pts_fin_l = [(cx - r, top + length - fin - 1), (cx - r - body * 0.75, top + length),
                 (cx - r, top + length)]
    pts_fin_r = [(cx + r, top + length - fin - 1), (cx + r + body * 0.75, top + length),
                 (cx + r, top + length)]
    for pts in (pts_body, pts_nose, pts_fin_l, pts_fin_r):
        if not upright:  # turn a quarter clockwise: the nose points right, cx is the centre row
            pts = [(2 * top + length - py, px) for px, py in pts]
        m.polygon(pts)
    return m.get()


def missile(img, x, y, w, h, cx, top, length, body, upright=True, body_col=(226, 230, 232),
            nose_col=RED, shade=True):
    """Draws a missile symbol into the (x, y, w, h) window of img; cx/top are window coordinates."""
    full = missile_mask(w, h, cx, top, length, body, upright)
    nose_len = length * 0.28
    if upright:
        yy = np.arange(h)[:, None] + 0.5
        nose_a = np.clip((top + nose_len - yy) + 0.5, 0, 1) * np.ones((1, w))
        across = (np.arange(w)[None, :] + 0.5 - cx) / max(body / 2.0, 1)
    else:
        xx = np.arange(w)[None, :] + 0.5
        nose_a = np.clip((xx - (top + length - nose_len)) + 0.5, 0, 1) * np.ones((h, 1))
        across = (np.arange(h)[:, None] + 0.5 - cx) / max(body / 2.0, 1) * np.ones((1, w))
    col = np.asarray(body_col, dtype=np.float64)[None, None, :] * np.ones((h, w, 1))
    col = col * (1 - nose_a[:, :, None]) + np.asarray(nose_col, dtype=np.float64) * nose_a[:, :, None]
    if shade:
        light = np.clip(1.05 - 0.45 * (across + 0.3) ** 2, 0.45, 1.1)
        col = col * light[:, :, None]
    blend(img, full, col, x, y)


def face(img, x, y, size, colour, mood, outline_only=False, ink=(0, 0, 0), width=1.4):
    """A round face of the given size at (x, y): mood -1 sad, 0 straight, 1 smiling.

    Filled in colour with ink features, or drawn as colour lines on what is below.
    """
    c = size / 2.0
    r = c - 1.0
    m = Mask(size, size)
    feat = Mask(size, size)
    if outline_only:
        m.ring(c, c, r, r - width)
    else:
        m.ellipse(c, c, r)
    er = max(1.0, size * 0.075)
    for ex in (c - r * 0.38, c + r * 0.38):
        feat.ellipse(ex, c - r * 0.28, er, er * 1.25)
    mw = r * 0.52
    my = c + r * 0.38
    bend = r * 0.24 * mood
    pts = [(c - mw + 2 * mw * t / 12, my + bend * (1 - (2 * t / 12 - 1) ** 2) - bend * 0.5) for t in range(13)]
    feat.line(pts, width)
    mask, feats = m.get(), feat.get()
    if outline_only:
        blend(img, np.clip(mask + feats, 0, 1), colour, x, y)
    else:
        blend(img, mask, colour, x, y)
        blend(img, feats * mask, ink, x, y)


def arrow_mask(size, pointing, inset=7.0):
    """A solid arrowhead triangle centred in a square cell."""
    c = size / 2.0
    half = c - inset
    tip = c + half * 0.95 if pointing > 0 else c - half * 0.95
    back = c - half * 0.75 if pointing > 0 else c + half * 0.75
    return Mask(size, size).polygon([(tip, c), (back, c - half * 1.05), (back, c + half * 1.05)]).get()


def glow(mask, radius, strength=1.0):
    return np.clip(blur(mask, radius) * strength, 0, 1)


def emboss(mask, radius=1.2):
    """Light from the top left on a shape: positive on its lit edges, negative on the shaded ones."""
    soft = blur(mask, radius)
    gy, gx = np.gradient(soft)
    return -(gx + gy) / np.sqrt(2)
