"""The title picture Titlegfx, 600 x 400: the title lettering over a plotting
board, and the console of game options whose boxes the game fills in."""

import numpy as np

import art_font
import art_glyphs
import art_logo
import art_paint as P
import art_sheet

W, H = 600, 400

# Places the game draws into (window coordinates).
MAP_ARROWS = ((155, 195), (420, 195))
MAP_NAME = (190, 200, 31)                    # x, y, glyphs
ROW_ARROWS = [((155, 240), (265, 240)), ((310, 240), (420, 240)),
              ((155, 285), (265, 285)), ((310, 285), (420, 285))]
NUMBERS = [(243, 245), (398, 245), (243, 290), (398, 290)]  # cities, silos, subs, skill
# The right-hand arrows at x 420 answer only to x 420..435, so the game draws
# them 16 wide; the others are 25 x 25.
NARROW_X, NARROW_W = 420, 16
PLAYER_BOXES = [(155 + 30 * p, 330) for p in range(4)]
START = (310, 330, 136, 26)                  # click area 310..445 x 330..355

CONSOLE = (22, 170, 556, 218)
LABEL = P.AMBER

# 9 x 9 pictures that label the rows, in the icon style of the map.
SKILL_FACE = ["..#####..",
              ".#.....#.",
              "#..#.#..#",
              "#.......#",
              "#.......#",
              "#.#...#.#",
              "#..###..#",
              ".#.....#.",
              "..#####.."]


def board():
    """Dark plotting board: a faint grid, a globe of meridians and a few ballistic arcs."""
    img = P.vgradient(H, W, [(0, (4, 7, 12)), (0.5, (9, 14, 20)), (1, (5, 8, 12))])
    yy, xx = np.mgrid[0:H, 0:W]
    grid = ((xx % 20 == 10) | (yy % 20 == 10)).astype(float) * 0.5
    grid += ((xx % 100 == 50) | (yy % 100 == 50)).astype(float) * 0.5
    P.blend(img, np.clip(grid, 0, 1) * 0.55, (24, 40, 48))
    globe(img, 300, 96, 150)
    arcs(img)
    vignette = np.hypot((xx - 300) / 330.0, (yy - 170) / 300.0)
    img *= np.clip(1.15 - 0.45 * vignette, 0.55, 1.0)[:, :, None]
    return img


def globe(img, cx, cy, r):
    """A wire globe, tilted towards the viewer, in dim phosphor green."""
    m = P.Mask(W, H, 3)
    tilt = np.radians(24)
    for lat in range(-60, 90, 30):
        pts = []
        for lon in range(-90, 91, 4):
            p = _project(np.radians(lat), np.radians(lon), tilt)
            if p is not None:
                pts.append((cx + r * p[0], cy - r * p[1]))
        if len(pts) > 1:
            m.line(pts, 0.9)
    for lon in range(-75, 90, 25):
        pts = []
        for lat in range(-90, 91, 3):
            p = _project(np.radians(lat), np.radians(lon), tilt)
            if p is not None:
                pts.append((cx + r * p[0], cy - r * p[1]))
        if len(pts) > 1:
            m.line(pts, 0.9)
    m.arc(cx, cy, r, 0, 360, 1.2)
    P.blend(img, m.get() * 0.5, (40, 120, 84))


def _project(lat, lon, tilt):
    x = np.cos(lat) * np.sin(lon)
    y = np.sin(lat)
    z = np.cos(lat) * np.cos(lon)
    y, z = y * np.cos(tilt) - z * np.sin(tilt), y * np.sin(tilt) + z * np.cos(tilt)
    return (x, y) if z >= 0 else None


def arcs(img):
    """Three missile tracks across the board, dotted, each ending in a small burst."""
    m = P.Mask(W, H, 3)
    bursts = P.Mask(W, H, 3)
    for (x0, y0), (x1, y1), height in (((18, 166), (584, 128), 128), ((572, 164), (40, 70), 66),
                                       ((470, 166), (560, 36), 40)):
        n = 60
        for i in range(0, n, 2):
            t0, t1 = i / n, (i + 1) / n
            seg = [(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t - height * 4 * t * (1 - t)) for t in (t0, t1)]
            m.line(seg, 1.0)
        bursts.ring(x1, y1, 5.0, 3.8)
    P.blend(img, m.get() * 0.75, (196, 58, 38))
    ring = bursts.get()
    P.blend(img, P.glow(ring, 3.0, 1.2) * 0.5, (255, 90, 30))
    P.blend(img, ring, (255, 170, 70))


def title_lettering(img):
    height = 86
    width = art_glyphs.word_width("VANTOR", height)
    x = (W - width) / 2.0
    art_logo.lettering(img, "VANTOR", x, 26, height, glow_colour=(220, 34, 22), glow_radius=7,
                       glow_strength=1.6, outline_px=2.0, shadow_offset=(3, 4))
    cells = art_font.font_alpha()
    motto = "A GAME OF NUCLEAR STRATEGY"
    mx = (W - 7 * len(motto)) // 2
    rule_y = 134 + 8
    for x0, x1 in ((int(x) + 4, mx - 10), (mx + 7 * len(motto) + 8, int(x + width) - 4)):
        img[rule_y, x0:x1] = (150, 34, 26)
        img[rule_y + 1, x0:x1] = (60, 12, 10)
    P.font_text(img, mx, 134, motto, (224, 200, 160), cells)


def console(img):
    x, y, w, h = CONSOLE
    shadow = P.Mask(W, H, 2).rect(x + 4, y + 5, x + w + 4, y + h + 5).get()
    P.blend(img, P.blur(shadow, 3.0) * 0.8, (0, 0, 0))
    img[y:y + h, x:x + w] = P.brushed(h, w, P.PLATE, seed=17)
    P.bevel(img, x, y, w, h, 2, raised=True, light=(120, 128, 134), dark=(16, 18, 20))
    for sx, sy in ((x + 9, y + 9), (x + w - 10, y + 9), (x + 9, y + h - 10), (x + w - 10, y + h - 10)):
        P.screw(img, sx, sy)
    # An engraved header line along the top of the plate.
    header = "MISSION SETUP"
    hx = x + (w - P.micro_width(header)) // 2
    P.micro_text(img, hx, y + 8, header, P.AMBER_MID, shadow=(20, 22, 24))
    for x0, x1 in ((x + 22, hx - 8), (hx + P.micro_width(header) + 8, x + w - 22)):
        img[y + 10, x0:x1] = (30, 33, 36)
        img[y + 11, x0:x1] = (90, 97, 103)


def frames(img):
    """Sunken wells under every place the game draws into."""
    for ax, ay in MAP_ARROWS + tuple(a for pair in ROW_ARROWS for a in pair):
        if ax == NARROW_X:
            # The well keeps to the columns that answer: its rim shows above and
            # below the button, and the plate beside it.
            P.bevel(img, ax, ay - 1, NARROW_W, 27, 1, raised=False, light=(126, 134, 140), dark=(12, 14, 16))
            P.fill(img, ax + 1, ay, NARROW_W - 2, 25, (0, 0, 0))
        else:
            P.sunken_box(img, ax, ay, 25, 25, depth=1)
    nx, ny, n = MAP_NAME
    P.sunken_box(img, nx - 2, ny - 2, 7 * n + 4, 20)
    for gx, gy in NUMBERS:
        P.sunken_box(img, gx - 2, gy - 2, 18, 20)
    for bx, by in PLAYER_BOXES:
        P.sunken_box(img, bx, by, 25, 25, depth=2)


def labels(img):
    cells = art_font.font_alpha()

    def right_aligned(text, y):
        P.font_text(img, 148 - 7 * len(text), y, text, LABEL, cells)

    right_aligned("MAP", 200)
    right_aligned("FORCES", 267)
    right_aligned("PLAYERS", 335)
    rows = [(art_sheet.ICONS[1], "CITIES", 183, 245), (art_sheet.ICONS[2], "SILOS", 338, 245),
            (art_sheet.ICONS[3], "SUBS", 183, 290), (SKILL_FACE, "SKILL", 338, 290)]
    for icon, word, x, y in rows:
        P.stamp(img, x, y + 3, icon, LABEL)
        P.font_text(img, x + 11, y, word, LABEL, cells)
    for p, (bx, by) in enumerate(PLAYER_BOXES):
        P.micro_text(img, bx + 11, by + 29, str(p + 1), P.AMBER_MID)
    P.micro_text(img, 148 - P.micro_width("CLICK TO CHANGE"), 352, "CLICK TO CHANGE", P.AMBER_MID)


def start_button(img):
    x, y, w, h = START
    P.fill(img, x - 2, y - 2, w + 4, h + 4, (8, 8, 8))
    img[y:y + h, x:x + w] = P.vgradient(h, w, [(0, (226, 56, 42)), (0.5, (168, 24, 18)), (1, (100, 10, 8))])
    P.bevel(img, x, y, w, h, 2, raised=True, light=(255, 150, 128), dark=(50, 4, 4))
    P.missile(img, x, y, w, h, h / 2.0, 8, 44, 7.0, upright=False, nose_col=(64, 66, 72),
              body_col=(250, 246, 240))
    art_logo.lettering(img, "START", x + 62, y + 6, 14, fill=art_logo.STEEL, spacing=12.0,
                       outline_px=0.6, shadow=(50, 4, 4), shadow_offset=(1, 1), shadow_alpha=0.9, bevel=0.3)


def radar(img, cx=508, cy=262, r=46):
    """A phosphor radar scope with a sweep and a few contacts."""
    size = 2 * (r + 6)
    ox, oy = cx - size // 2, cy - size // 2
    c = size / 2.0
    P.blend(img, P.Mask(size, size).ellipse(c + 1.5, c + 2, r + 4.5).get() * 0.8, (6, 7, 8), ox, oy)
    bezel = P.Mask(size, size).ring(c, c, r + 4, r).get()
    P.blend(img, bezel, P.vgradient(size, size, [(0, (190, 198, 204)), (1, (40, 44, 48))]), ox, oy)
    yy, xx = np.mgrid[0:size, 0:size] + 0.5
    d = np.hypot(xx - c, yy - c)
    disc = P.Mask(size, size).ellipse(c, c, r).get()
    scope = np.zeros((size, size, 3))
    scope[:] = (4, 18, 10)
    ang = (np.degrees(np.arctan2(xx - c, -(yy - c))) - 52) % 360  # sweep line at 52 degrees
    trail = np.clip(1 - (360 - ang) / 80.0, 0, 1) ** 2 * (ang > 250)
    scope += trail[:, :, None] * np.array([10, 90, 40])
    lines = P.Mask(size, size)
    for k in (1, 2, 3):
        lines.arc(c, c, r * k / 3.0, 0, 360, 0.8)
    lines.line([(c - r, c), (c + r, c)], 0.8).line([(c, c - r), (c, c + r)], 0.8)
    P.blend(scope, lines.get() * 0.5, (50, 170, 90))
    a = np.radians(52)
    sweep = P.Mask(size, size).line([(c, c), (c + np.sin(a) * r, c - np.cos(a) * r)], 1.2).get()
    P.blend(scope, sweep, (150, 255, 170))
    blips = P.Mask(size, size)
    for bx, by in ((0.32, -0.42), (0.55, -0.12), (-0.38, 0.3), (0.12, 0.58)):
        blips.ellipse(c + bx * r, c + by * r, 1.5)
    P.blend(scope, P.glow(blips.get(), 1.2, 2.0), (120, 255, 150))
    scope *= (1 - 0.35 * (d / r) ** 2)[:, :, None]
    P.blend(img, disc, scope, ox, oy)
    P.micro_text(img, cx - P.micro_width("EARLY WARNING") // 2, cy + r + 9, "EARLY WARNING", P.AMBER_MID,
                 shadow=(20, 22, 24))


def defcon(img, x=470, y=346):
    """A row of five DEFCON lamps with the last one lit."""
    P.micro_text(img, x + 38 - P.micro_width("DEFCON") // 2, y - 10, "DEFCON", P.AMBER_MID, shadow=(20, 22, 24))
    for i in range(5):
        lx = x + 16 * i
        lit = i == 4
        colour = (255, 48, 32) if lit else (70, 24, 20)
        size = 13
        c = size / 2.0
        P.blend(img, P.Mask(size, size).ellipse(c, c, 6.0).get(), (12, 12, 12), lx - 1, y - 1)
        lamp = P.Mask(size, size).ellipse(c - 1, c - 1, 4.6).get()
        shade = P.vgradient(size, size, [(0, np.minimum(np.array(colour) + 90, 255)), (1, colour)])
        if lit:
            P.blend(img, P.glow(lamp, 2.5, 1.0) * 0.6, (255, 60, 30), lx - 1, y - 1)
        P.blend(img, lamp, shade, lx - 1, y - 1)
        P.micro_text(img, lx + 4, y + 14, str(5 - i), (255, 120, 90) if lit else P.AMBER_MID)


def build():
    img = board()
    title_lettering(img)
    console(img)
    frames(img)
    labels(img)
    start_button(img)
    radar(img)
    defcon(img)
    return P.to_u8(img)
