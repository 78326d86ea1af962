"""The sprite sheet PanelGFX: unit icons, the selection frame, arrow buttons,
panel cells, player boxes and explosion frames, each at its fixed place."""

import numpy as np

import art_paint as P

SHEET_W, SHEET_H = 100, 450

# Unit icons, 9 x 9, drawn in one flat colour: they are ORed over the map, so
# anything unlit must stay black.
ICONS = {
    1: ["..#####..",  # city: a ring
        ".#######.",
        "###...###",
        "##.....##",
        "##.....##",
        "##.....##",
        "###...###",
        ".#######.",
        "..#####.."],
    2: ["....#....",  # silo: a triangle
        "...###...",
        "...###...",
        "..#####..",
        "..#####..",
        ".#######.",
        ".#######.",
        "#########",
        "#########"],
    3: [".........",  # submarine: a flat bar with its tower
        ".........",
        "....##...",
        "....##...",
        ".#######.",
        "#########",
        ".#######.",
        ".........",
        "........."],
    4: ["#..#..#..",  # factory: a square notched by a sawtooth roof
        "##.##.##.",
        "#########",
        "#########",
        "#########",
        "##.#.#.##",
        "#########",
        "#########",
        "#########"],
}

ROW_COLOURS = P.SIDE_COLOURS + [P.GREY_SIDE]

# The 16 x 25 right-pointing arrow buttons for the title's right-hand places:
# top left corners of the raised and the pressed one.
NARROW_W = 16
NARROW_RAISED = (80, 50)
NARROW_PRESSED = (80, 75)

CELL_GREY_EDGE = 150.0
CELL_GREY_MID = 34.0


def _edge_profile(w, mid_level):
    """1 at the left and right edges, mid_level in the middle, for the 60 x 25 cells."""
    t = np.abs(np.arange(w) + 0.5 - w / 2.0) / (w / 2.0)
    return mid_level + (1 - mid_level) * t ** 1.35


def side_plate(colour):
    prof = _edge_profile(60, 0.16)
    img = np.asarray(colour, dtype=np.float64)[None, None, :] * prof[None, :, None]
    return np.repeat(img, 25, axis=0)


def grey_cell():
    prof = _edge_profile(60, CELL_GREY_MID / CELL_GREY_EDGE) * CELL_GREY_EDGE
    return np.repeat(np.repeat(prof[None, :, None], 3, axis=2), 25, axis=0)


def missiles_cell(count):
    img = grey_cell()
    if count == 0:
        for cx in (16, 30, 44):  # empty racks: dark outlines where missiles would stand
            m = P.missile_mask(60, 25, cx + 0.5, 3, 19, 4.2)
            P.blend(img, m * 0.55, (14, 14, 14))
        return img
    spacing = 14
    first = 30 - spacing * (count - 1) / 2.0
    for i in range(count):
        P.missile(img, 0, 0, 60, 25, first + spacing * i + 0.5, 3, 19, 4.2)
    return img


def contentment_cell(level):
    img = grey_cell()
    P.face(img, 19, 1, 23, (236, 238, 240), level - 1, outline_only=True, width=1.5)
    return img


def narrow_arrow_mask(w, h, pointing, half=5.6):
    """The arrowhead of arrow_mask, a little smaller, centred in a w x h cell."""
    cx = w / 2.0 - 0.1 * half * pointing  # centres the triangle's extent, not its point
    cy = h / 2.0
    tip = cx + half * 0.95 * pointing
    back = cx - half * 0.75 * pointing
    return P.Mask(w, h).polygon([(tip, cy), (back, cy - half * 1.05), (back, cy + half * 1.05)]).get()


def arrow_button(pointing, pressed, w=25):
    """w x 25 button: raised with a grey arrow, or pressed in with a white one.

    25 wide for the square buttons; 16 wide for the title's right-hand buttons,
    which answer only to their left 16 columns."""
    h = 25
    img = P.canvas(w, h)
    if pressed:
        img[:] = P.vgradient(h, w, [(0, (30, 33, 36)), (1, (44, 48, 52))])
    else:
        img[:] = P.vgradient(h, w, [(0, (86, 93, 99)), (1, (50, 55, 60))])
    P.bevel(img, 0, 0, w, h, 1, raised=True, light=(12, 13, 14), dark=(12, 13, 14))
    P.bevel(img, 1, 1, w - 2, h - 2, 1, raised=not pressed, light=(150, 158, 164), dark=(22, 24, 27))
    shift = 1 if pressed else 0
    mask = P.arrow_mask(25, pointing, inset=6.5) if w == h else narrow_arrow_mask(w, h, pointing)
    if pressed:
        halo = P.glow(mask, 1.6, 1.3)
        P.blend(img, np.roll(np.roll(halo, shift, 0), shift, 1) * 0.35, (255, 255, 255))
        P.blend(img, np.roll(np.roll(mask, shift, 0), shift, 1), (255, 255, 255))
    else:
        P.blend(img, np.roll(np.roll(mask, 1, 0), 1, 1) * 0.8, (16, 18, 20))
        P.blend(img, mask, (176, 182, 188))
    return img


def player_box(side, human):
    img = P.canvas(25, 25)
    P.face(img, 1, 1, 23, P.SIDE_COLOURS[side], 1 if human else -1, width=1.7)
    return img


def explosion(k):
    """Explosion frame k: a hot disc with a white rim, radius about 3 to 9.5 pixels."""
    r = 3.0 + 6.5 * k / 21.0
    yy, xx = np.mgrid[0:20, 0:20] + 0.5
    d = np.hypot(xx - 10.5, yy - 10.5)  # the blast point is pixel (10, 10) of the frame
    jitter = P.hash_noise((20, 20), 900 + k) - 0.5
    t = np.clip(d / r + jitter * 0.18, 0, 1.5)
    stops = [(0.0, (255, 255, 230)), (0.3, (255, 232, 90)), (0.6, (255, 140, 24)),
             (0.84, (214, 38, 8)), (1.0, (120, 10, 0))]
    pos = np.array([p for p, _ in stops])
    cols = np.array([c for _, c in stops], dtype=np.float64)
    body = np.stack([np.interp(t, pos, cols[:, c]) for c in range(3)], axis=2)
    inside = np.clip(r - d + 0.5, 0, 1)
    img = body * inside[:, :, None]
    rim = np.clip(1.0 - np.abs(d - (r - 0.6)) / 0.9, 0, 1)
    P.blend(img, rim, (255, 255, 255))
    return img


def selection_frame():
    img = P.canvas(13, 13)
    white = (255, 255, 255)
    for x0, y0, dx, dy in ((0, 0, 1, 1), (12, 0, -1, 1), (0, 12, 1, -1), (12, 12, -1, -1)):
        for i in range(4):
            img[y0, x0 + dx * i] = white
            img[y0 + dy * i, x0] = white
    return img


def build():
    sheet = P.canvas(SHEET_W, SHEET_H)

    def put(x, y, cell):
        h, w, _ = cell.shape
        sheet[y:y + h, x:x + w] = cell

    for row, colour in enumerate(ROW_COLOURS):
        for flag, rows in ICONS.items():
            cell = P.canvas(9, 9)
            P.stamp(cell, 0, 0, rows, colour)
            put(10 * (flag - 1), 10 * row, cell)
    put(40, 0, selection_frame())
    for k in range(22):
        put(60, 20 * k, explosion(k))
    put(0, 50, arrow_button(-1, False))
    put(25, 50, arrow_button(+1, False))
    put(0, 75, arrow_button(-1, True))
    put(25, 75, arrow_button(+1, True))
    # The title's three right-hand buttons, 16 wide, in the free column right of the explosions.
    put(*NARROW_RAISED, arrow_button(+1, False, NARROW_W))
    put(*NARROW_PRESSED, arrow_button(+1, True, NARROW_W))
    for s, colour in enumerate(P.SIDE_COLOURS):
        put(0, 100 + 25 * s, side_plate(colour))
    for c in range(3):
        put(0, 200 + 25 * c, contentment_cell(c))
    for n in range(1, 4):
        put(0, 250 + 25 * n, missiles_cell(n))
    put(0, 350, missiles_cell(0))
    put(0, 375, P.canvas(25, 25))
    # The player boxes reach x = 99 and cover explosion frames 20 and 21,
    # which play never shows.
    for p in range(4):
        put(25 * p, 400, player_box(p, True))
        put(25 * p, 425, player_box(p, False))
    return P.to_u8(sheet)
