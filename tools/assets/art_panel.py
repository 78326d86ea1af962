"""The control panel background PanelImage, 600 x 60.

Coordinates here are panel coordinates: window y minus 400.
"""

import numpy as np

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
GAUGE = (537, 14, 6, 33)               # the power slot, 537..542 x 14..46
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
    x, y, w, h = ABORT
    # A striped guard around the button marks it as one not to press lightly.
    P.fill(img, x - 9, y - 6, w + 18, h + 12, (12, 12, 10))
    P.hazard(img, x - 8, y - 5, w + 16, h + 10, phase=3, period=10)
    P.fill(img, x - 2, y - 1, w + 4, h + 2, (10, 10, 10))
    face = P.vgradient(h, w, [(0, (74, 80, 86)), (0.5, (46, 50, 55)), (1, (30, 33, 36))])
    img[y:y + h, x:x + w] = face
    P.bevel(img, x, y, w, h, 2, raised=True, light=(138, 146, 152), dark=(14, 16, 18))
    art_logo.lettering(img, "VANTOR", x + 6, y + 10, 12.5, fill=art_logo.CHROME, spacing=9.0,
                       outline_px=0.7, shadow_offset=(1, 1), shadow_alpha=0.8, bevel=0.5)
    # A small red label plate under the lettering.
    lx, ly, lw, lh = x + 22, y + 32, 35, 11
    P.fill(img, lx, ly, lw, lh, P.RED_DARK)
    P.bevel(img, lx, ly, lw, lh, 1, raised=True, light=(186, 60, 52), dark=(40, 4, 4))
    P.micro_text(img, lx + (lw - P.micro_width("ABORT")) // 2, ly + 3, "ABORT", (255, 226, 214),
                 shadow=(40, 4, 4))


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
    x, y, w, h = GAUGE
    P.sunken_box(img, x, y, w, h, depth=1)
    scale = P.vgradient(h, w - 2, [(0, (255, 40, 24)), (0.45, (240, 190, 30)), (1, (40, 200, 80))])
    img[y:y + h, x + 1:x + w - 1] = scale * 0.42
    for j in range(0, h, 4):
        long = j % 8 == 0
        img[y + j, x - (5 if long else 3):x - 1] = (196, 200, 204) if long else (120, 126, 132)
        img[y + j, x + w + 1:x + w + (5 if long else 3)] = (196, 200, 204) if long else (120, 126, 132)
    arrow = P.Mask(9, 5).polygon([(4.5, 0.2), (8.2, 4.6), (0.8, 4.6)]).get()
    P.blend(img, arrow, (196, 200, 204), x - 2, y - 8)
    P.blend(img, arrow[::-1], (120, 126, 132), x - 2, y + h + 3)


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
