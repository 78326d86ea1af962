"""The control panel background PanelImage, 600 x 60.

Coordinates here are panel coordinates: window y minus 400.
"""

import numpy as np

import art_glyphs
import art_logo
import art_paint as P

W, H = 600, 60

# Black boxes that the game draws into: (x, y, w, h).
CLOSEUP = (5, 5, 100, 50)
NAME = (110, 5, 125, 20)
STATE = (110, 30, 60, 25)
SIDE = (175, 30, 60, 25)
BEARING = (420, 5, 50, 20)
POWER = (475, 5, 50, 20)
ARROW_PAIRS = ((420, 30), (475, 30))  # two 25 x 25 buttons side by side from here
ABORT = (261, 6, 79, 49)               # the abort click area, inclusive 261..339 x 6..54
DIAL = (390, 30, 21)                   # centre and radius of the black dial
GAUGE = (530, 5, 21, 51)               # the power gauge's click area, 530..550 x 5..55
FIRE = (555, 5, 41, 51)                # 555..595 x 5..55


def plate():
    img = P.brushed(H, W, P.PLATE, seed=61)
    img[0] = P.PLATE_HI
    img[1] = np.mean([P.PLATE_HI, P.PLATE], axis=0)
    img[H - 1] = P.PLATE_LO
    img[H - 2] = np.mean([P.PLATE_LO, P.PLATE], axis=0)
    return img


def boxes(img):
    for box in (CLOSEUP, NAME, STATE, SIDE, BEARING, POWER):
        P.sunken_box(img, *box)
    for x, y in ARROW_PAIRS:
        P.sunken_box(img, x, y, 50, 25)
    # Engraved labels in the empty left part of the number boxes, and a degree mark.
    P.micro_text(img, BEARING[0] + 3, BEARING[1] + 8, "BRG", (150, 104, 36))
    P.micro_text(img, POWER[0] + 3, POWER[1] + 8, "PWR", (150, 104, 36))
    deg = P.Mask(4, 4).ring(2.0, 2.0, 1.9, 0.9).get()
    P.blend(img, deg, (200, 204, 208), BEARING[0] + 37, BEARING[1] + 3)


def abort_button(img):
    """The whole name plate is the button that ends the game: a raised dark red
    face over exactly the click area, inside a striped guard."""
    x, y, w, h = ABORT
    # A striped guard around the button marks it as one not to press lightly.
    P.fill(img, x - 9, y - 6, w + 18, h + 12, (12, 12, 10))
    P.hazard(img, x - 8, y - 5, w + 16, h + 10, phase=3, period=10)
    P.fill(img, x - 2, y - 1, w + 4, h + 2, (10, 10, 10))
    face = P.vgradient(h, w, [(0, (168, 34, 28)), (0.5, (118, 16, 14)), (1, (70, 8, 7))])
    img[y:y + h, x:x + w] = face
    P.bevel(img, x, y, w, h, 2, raised=True, light=(230, 112, 96), dark=(34, 3, 3))
    height, spacing = 17.0, 10.0
    lx = x + (w - art_glyphs.word_width("ABORT", height, spacing)) / 2.0
    art_logo.lettering(img, "ABORT", lx, y + 10, height, fill=art_logo.STEEL, spacing=spacing,
                       outline=(40, 4, 4), outline_px=0.7, shadow=(30, 2, 2), shadow_offset=(1, 1),
                       shadow_alpha=0.9, bevel=0.35)
    # A thin engraved rule, and what the button does in small letters under it.
    img[y + 32, x + 8:x + w - 8] = (62, 6, 6)
    img[y + 33, x + 8:x + w - 8] = (176, 58, 48)
    label = "END GAME"
    P.micro_text(img, x + (w - P.micro_width(label)) // 2, y + 37, label, (255, 218, 200), shadow=(44, 4, 4))


def dial(img):
    cx, cy, r = DIAL
    size = 2 * (r + 5)
    ox, oy = cx - size // 2, cy - size // 2
    c = size / 2.0 + 0.5  # centred on pixel (cx, cy)
    shadow = P.Mask(size, size).ellipse(c + 1, c + 1, r + 3.6).get()
    P.blend(img, shadow * 0.7, (8, 9, 10), ox, oy)
    bezel = P.Mask(size, size).ring(c, c, r + 3.4, r).get()
    P.blend(img, bezel, P.vgradient(size, size, [(0, (196, 204, 210)), (1, (44, 48, 52))]), ox, oy)
    P.blend(img, P.Mask(size, size).ellipse(c, c, r).get(), (0, 0, 0), ox, oy)
    ticks = P.Mask(size, size)
    major = P.Mask(size, size)
    north = P.Mask(size, size)
    for deg in range(0, 360, 15):
        a = np.radians(deg)
        inner = r - (5.5 if deg % 90 == 0 else 3.5 if deg % 45 == 0 else 2.2)
        dx, dy = np.sin(a), -np.cos(a)
        seg = [(c + dx * inner, c + dy * inner), (c + dx * (r - 0.8), c + dy * (r - 0.8))]
        (north if deg == 0 else major if deg % 45 == 0 else ticks).line(seg, 1.1 if deg % 90 else 1.5)
    P.blend(img, ticks.get(), (110, 116, 122), ox, oy)
    P.blend(img, major.get(), (214, 218, 222), ox, oy)
    P.blend(img, north.get(), (255, 64, 48), ox, oy)
    cross = P.Mask(size, size).line([(c - r + 7, c), (c + r - 7, c)], 0.8).line([(c, c - r + 7), (c, c + r - 7)], 0.8)
    P.blend(img, cross.get() * 0.45, (70, 180, 110), ox, oy)
    P.blend(img, P.Mask(size, size).ellipse(c, c, 1.6).get(), (200, 204, 208), ox, oy)
    P.micro_text(img, cx - 2, cy - r + 7, "N", (255, 80, 60))


def gauge(img):
    """A dark channel over the click area with a scale: the game marks the power
    in it at y = 55 - power / 2 and the row above, across x 531..549."""
    x, y, w, h = GAUGE
    ix, iw = x + 1, w - 2  # the inside, 531..549; its sunken rim takes 529..530 and 550..551
    P.sunken_box(img, ix, y, iw, h, depth=2)
    # Faint colours from green at the bottom to red at the top, dark enough for the mark to read.
    heat = P.vgradient(h, iw, [(0, (255, 40, 24)), (0.5, (240, 190, 30)), (1, (40, 200, 80))])
    across = np.abs(np.arange(iw) + 0.5 - iw / 2.0) / (iw / 2.0)
    img[y:y + h, ix:ix + iw] = heat * (0.2 - 0.09 * across ** 2)[None, :, None] + 6
    # A tick every 10 points of power (5 pixels), longer at 0, 50 and 100.
    bottom = y + h - 1
    for k in range(11):
        row = bottom - 5 * k
        major = k % 5 == 0
        n, colour = (6, (214, 218, 222)) if major else (3, (128, 134, 140))
        img[row, ix:ix + n] = colour
        img[row, ix + iw - n:ix + iw] = colour


def fire_button(img):
    x, y, w, h = FIRE
    P.fill(img, x - 2, y - 2, w + 4, h + 4, (10, 10, 10))
    face = P.vgradient(h, w, [(0, (222, 52, 40)), (0.55, (160, 22, 18)), (1, (104, 10, 8))])
    img[y:y + h, x:x + w] = face
    P.bevel(img, x, y, w, h, 2, raised=True, light=(255, 140, 120), dark=(52, 4, 4))
    P.missile(img, x, y, w, h, w / 2.0, 6, 31, 6.5, nose_col=(64, 66, 72), body_col=(250, 246, 240))
    P.micro_text(img, x + (w - P.micro_width("FIRE")) // 2, y + h - 10, "FIRE", (255, 236, 226),
                 shadow=(60, 6, 6))


def screws(img):
    for sx in (245, 355):
        for sy in (9, 50):
            P.screw(img, sx, sy)


def build():
    img = plate()
    boxes(img)
    abort_button(img)
    dial(img)
    gauge(img)
    fire_button(img)
    screws(img)
    return P.to_u8(img)
