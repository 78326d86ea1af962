#!/usr/bin/python3
"""Composes World.map and World.tac from the layers that worldmap.sh renders.

Usage: world_compose.py LAYERDIR OUTDIR [PREVIEWDIR]
       (PREVIEWDIR gets world-map.png, the picture as a PNG)

LAYERDIR holds 2400 x 1600 PPM layers, four times the map, on the map's
Mercator grid: regions (territory fills), land, lakes, shore, lakeshore,
borders, rivers. The territory map is decided at 4x by majority per 4 x 4
block; the shown picture is painted at 1x from block coverages so that its
coasts are anti-aliased and line up with the territories.
"""

import os
import sys

import numpy as np
from PIL import Image

from mapgen import tone_down, write_png

W, H = 600, 400
SCALE = 4
# Placement samples icon centres inside this window (inclusive).
WIN_X0, WIN_X1, WIN_Y0, WIN_Y1 = 4, 584, 4, 364

# Territory map colours as (R, G, B).
SEA = (0, 255, 255)
LAKE = (0, 0, 128)  # inland water and sea too narrow for a submarine
NEUTRAL = (128, 128, 128)  # ice, land of no country, slivers
RED, BLUE, YELLOW, GREEN = (255, 0, 0), (0, 0, 255), (255, 255, 0), (0, 255, 0)
# Class numbers in the order that breaks ties in a block's vote.
C_SEA, C_LAKE, C_NEUTRAL, C_RED, C_BLUE, C_YELLOW, C_GREEN = range(7)
CLASS_COLOURS = (SEA, LAKE, NEUTRAL, RED, BLUE, YELLOW, GREEN)
TERRITORIES = (C_RED, C_BLUE, C_YELLOW, C_GREEN)

# Mercator rows: 80 N at the top edge, 360 degrees across 600 pixels.
Y_TOP = np.log(np.tan(np.radians(45 + 80 / 2)))
Y_SPAN = 2 * np.pi * H / W


def pixel_lonlat(w=W, h=H):
    """Longitude and latitude of every pixel centre, as two (h, w) arrays."""
    lon = -180 + (np.arange(w) + 0.5) * 360 / w
    y = Y_TOP - (np.arange(h) + 0.5) / h * Y_SPAN
    lat = np.degrees(2 * np.arctan(np.exp(y)) - np.pi / 2)
    return np.broadcast_to(lon, (h, w)), np.broadcast_to(lat[:, None], (h, w))


def row_of(lat):
    """The map row (fractional, from the top edge) of a latitude."""
    y = np.log(np.tan(np.radians(45 + lat / 2)))
    return (Y_TOP - y) / Y_SPAN * H


def load(layerdir, name):
    img = Image.open(os.path.join(layerdir, name + ".ppm")).convert("RGB")
    if img.size != (W * SCALE, H * SCALE):
        sys.exit(f"world_compose: {name}.ppm is {img.size}, not {W * SCALE} x {H * SCALE}")
    return np.asarray(img)


def dark(layer):
    return layer[..., 0] < 128


def block_mean(mask):
    """Fraction of each 4 x 4 block that is set: a 1x coverage."""
    return mask.reshape(H, SCALE, W, SCALE).mean(axis=(1, 3))


# ---------------------------------------------------------------- territories

def classify(regions, land, lakes):
    """Class of every 4x pixel. Country fills spill past the coast, so the
    sea and the lakes are laid over them."""
    r, g, b = (regions[..., i].astype(int) for i in range(3))
    cls = np.full(land.shape, C_NEUTRAL, np.uint8)  # no country, or ice
    cls[(r > 200) & (g < 60) & (b < 60)] = C_RED
    cls[(r < 60) & (g < 60) & (b > 200)] = C_BLUE
    cls[(r > 200) & (g > 200) & (b < 60)] = C_YELLOW
    cls[(r < 60) & (g > 200) & (b < 60)] = C_GREEN
    cls[lakes] = C_LAKE
    cls[~land] = C_SEA
    return cls


def majority(cls):
    """1x class by majority per 4 x 4 block; ties go to the lower class."""
    votes = np.stack([block_mean(cls == k) for k in range(len(CLASS_COLOURS))])
    return np.argmax(votes, axis=0).astype(np.uint8)


def thick(mask, n):
    """Pixels of mask that lie in at least one n x n square of mask: strips
    narrower than n pixels, and specks, drop out. Wraps east-west like the
    game's map."""
    sq = mask.copy()
    for d in range(1, n):
        sq &= np.roll(mask, -d, axis=1)
    rows = sq.copy()
    for d in range(1, n):
        sq[:-d] &= rows[d:]
    sq[H - n + 1:] = False
    keep = sq.copy()
    for d in range(1, n):
        keep |= np.roll(sq, d, axis=1)
    rows = keep.copy()
    for d in range(1, n):
        keep[d:] |= rows[:-d]
    return mask & keep


def small_pieces(mask, min_size):
    """Pixels of the 8-connected pieces of mask (wrapping east-west) that
    have fewer than min_size pixels."""
    label = np.zeros(mask.shape, np.int32)
    small = np.zeros(mask.shape, bool)
    for y0, x0 in zip(*np.nonzero(mask)):
        if label[y0, x0]:
            continue
        label[y0, x0] = 1
        stack, piece = [(y0, x0)], []
        while stack:
            y, x = stack.pop()
            piece.append((y, x))
            for ny in (y - 1, y, y + 1):
                if 0 <= ny < H:
                    for nx in ((x - 1) % W, x, (x + 1) % W):
                        if mask[ny, nx] and not label[ny, nx]:
                            label[ny, nx] = 1
                            stack.append((ny, nx))
        if len(piece) < min_size:
            small[tuple(np.array(piece).T)] = True
    return small


# A territory keeps only land in 4 x 4 squares of its own and pieces of at
# least 30 pixels: a unit's 9 x 9 icon then sits mostly on its own land, and
# no side is dealt a scatter of islets. The sea drops one-pixel channels and
# ponds cut off from the ocean.
TERRITORY_SQUARE, SEA_SQUARE, MIN_PIECE = 4, 2, 30


def territory_classes(cls4, ice):
    """1x classes of the territory map; ice is where the picture shows polar
    ice over land, which no side owns."""
    cls = majority(cls4)
    cls[ice & (cls >= C_RED)] = C_NEUTRAL
    for k in TERRITORIES:
        mask = cls == k
        mask &= thick(mask, TERRITORY_SQUARE)
        cls[(cls == k) & ~(mask & ~small_pieces(mask, MIN_PIECE))] = C_NEUTRAL
    sea = cls == C_SEA
    sea &= thick(sea, SEA_SQUARE)
    cls[(cls == C_SEA) & ~(sea & ~small_pieces(sea, MIN_PIECE))] = C_LAKE
    return cls


def paint_classes(cls):
    return np.array(CLASS_COLOURS, np.uint8)[cls]


# ------------------------------------------------------------ shared helpers

def blur(a, sigma):
    """Gaussian-like blur (three box passes), wrapping east-west and clamping
    at the top and bottom edges."""
    r = max(1, int(round(sigma * np.sqrt(12 / 3 + 1) / 2)))
    out = a.astype(np.float64)
    for _ in range(3):
        pad = np.concatenate([out[:, -r - 1:], out, out[:, :r]], axis=1)
        c = np.cumsum(pad, axis=1)
        out = (c[:, 2 * r + 1:] - c[:, :-2 * r - 1]) / (2 * r + 1)
        pad = np.concatenate([np.repeat(out[:1], r + 1, 0), out, np.repeat(out[-1:], r, 0)], axis=0)
        c = np.cumsum(pad, axis=0)
        out = (c[2 * r + 1:] - c[:-2 * r - 1]) / (2 * r + 1)
    return out


def value_noise(rng, cells_x, cells_y, w=W, h=H):
    """Smooth noise in 0..1 on a cells_x x cells_y lattice, periodic in x."""
    grid = rng.random_sample((cells_y + 1, cells_x))
    gx = np.arange(w) * cells_x / w
    gy = np.arange(h) * cells_y / h
    x0 = np.floor(gx).astype(int)
    y0 = np.floor(gy).astype(int)
    fx = gx - x0
    fy = gy - y0
    fx = fx * fx * (3 - 2 * fx)
    fy = fy * fy * (3 - 2 * fy)
    x1 = (x0 + 1) % cells_x
    y1 = np.minimum(y0 + 1, cells_y)
    top = grid[y0][:, x0] * (1 - fx) + grid[y0][:, x1] * fx
    bot = grid[y1][:, x0] * (1 - fx) + grid[y1][:, x1] * fx
    return top * (1 - fy[:, None]) + bot * fy[:, None]


def fractal(rng, cells_x, cells_y, octaves, w=W, h=H):
    total, amp, norm = 0.0, 1.0, 0.0
    for _ in range(octaves):
        total = total + amp * value_noise(rng, cells_x, cells_y, w, h)
        norm += amp
        amp *= 0.5
        cells_x, cells_y = cells_x * 2, cells_y * 2
    return total / norm


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0, 1)
    return t * t * (3 - 2 * t)


def lerp(a, b, t):
    t = np.asarray(t)[..., None] if np.ndim(t) else t
    return a + (np.asarray(b, np.float64) - a) * t


# ------------------------------------------------------------ shown picture
# The land is coloured from a made-up climate: a temperature falling with
# latitude and height, and a moisture from the latitude belts, the distance
# from the sea and hand-placed deserts and wet zones. Heights come from
# hand-drawn mountain ranges and plateaus roughened by noise and hill-shaded.

# Mountain ranges: (height 0..1, half-width in pixels, [(lon, lat), ...]).
RANGES = [
    (1.00, 4.0, [(73, 35.5), (77, 33.5), (81, 30), (86, 28), (92, 27.8), (95, 28.5)]),  # Himalaya
    (0.85, 3.0, [(69, 35), (73, 37), (77, 36)]),  # Hindu Kush, Karakoram
    (0.60, 3.0, [(70, 41.5), (78, 42), (86, 43), (94, 43)]),  # Tian Shan
    (0.70, 2.5, [(76, 37), (84, 36), (92, 36), (99, 35)]),  # Kunlun
    (0.50, 3.0, [(86, 50), (90, 49), (95, 51), (100, 52)]),  # Altai, Sayan
    (0.55, 3.0, [(98, 31), (99, 26), (100, 23)]),  # Hengduan
    (0.50, 3.0, [(45, 37), (48, 34), (52, 30), (57, 27)]),  # Zagros
    (0.45, 2.0, [(49, 37), (54, 36.5), (59, 37)]),  # Elburz
    (0.60, 2.0, [(38, 44), (44, 42.5), (49, 41)]),  # Caucasus
    (0.40, 3.0, [(30, 37), (36, 37.5), (42, 38.5)]),  # Taurus
    (0.60, 2.0, [(6, 44.5), (7, 46), (10, 46.5), (13, 47), (15, 47.3)]),  # Alps
    (0.40, 1.5, [(-1.5, 43), (3, 42.5)]),  # Pyrenees
    (0.35, 2.0, [(18, 49), (22, 49), (25, 47), (25, 45.5), (22, 45)]),  # Carpathians
    (0.40, 3.0, [(6, 59), (8, 62), (13, 65), (17, 68), (20, 69.5)]),  # Scandinavia
    (0.18, 2.0, [(59, 51), (59, 55), (59.5, 60), (60, 64), (63, 67), (66, 68.5)]),  # Urals
    (0.45, 2.5, [(-9, 30.5), (-5, 32), (0, 34), (5, 35), (9, 36)]),  # Atlas
    (0.35, 3.0, [(36, -2), (35, -8), (34, -12)]),  # East African highlands
    (0.35, 2.0, [(30, -28), (28, -31), (25, -33)]),  # Drakensberg
    (0.35, 2.0, [(36, 28), (40, 22), (43, 16), (44, 13)]),  # Hejaz, Yemen
    (0.30, 1.5, [(49, -13), (47, -19), (46, -24)]),  # Madagascar
    (0.25, 1.5, [(73, 20), (75, 13), (77, 9)]),  # Western Ghats
    (0.35, 2.5, [(128, 63), (132, 66), (135, 69)]),  # Verkhoyansk
    (0.35, 2.5, [(138, 66), (145, 65), (150, 63)]),  # Chersky
    (0.30, 3.0, [(160, 62), (170, 64), (178, 66)]),  # Kolyma, Chukotka
    (0.40, 2.0, [(156, 51), (158, 54), (160, 57)]),  # Kamchatka
    (0.30, 2.0, [(120, 56), (130, 55), (135, 54)]),  # Stanovoy
    (0.30, 2.0, [(134, 44), (137, 47)]),  # Sikhote-Alin
    (0.35, 1.5, [(131, 33), (136, 35.5), (139, 37), (141, 40), (143, 43)]),  # Japan
    (0.30, 2.0, [(146, -38), (149, -35), (151, -30), (150, -25), (146, -18), (145, -15)]),  # Great Dividing
    (0.45, 1.5, [(167, -46), (171, -43), (174, -41)]),  # Southern Alps
    (0.55, 2.0, [(132, -3), (138, -4), (144, -6), (147, -7)]),  # New Guinea
    (0.30, 2.0, [(115, 4), (117, 1)]),  # Borneo
    (0.35, 1.5, [(95, 5), (101, -2), (104, -5)]),  # Sumatra
    (0.90, 3.5, [(-73, 11), (-75, 6), (-77, 1), (-79, -3), (-77, -9), (-73, -14), (-69, -17), (-68, -22),
                 (-69, -28), (-70, -33), (-71, -38), (-72, -44), (-73, -50), (-72, -53)]),  # Andes
    (0.40, 1.5, [(-73, 8), (-68, 10), (-64, 10)]),  # Venezuelan Andes
    (0.45, 3.0, [(-110, 30), (-106, 25), (-103, 21), (-98, 19), (-96, 17)]),  # Sierra Madre
    (0.35, 2.0, [(-100, 26), (-99, 21)]),  # Sierra Madre Oriental
    (0.35, 2.0, [(-92, 15), (-87, 14), (-84, 11), (-80, 8.5)]),  # Central America
    (0.65, 4.0, [(-106, 33), (-106, 38), (-109, 43), (-113, 47), (-117, 51), (-122, 55), (-127, 59),
                 (-133, 62), (-140, 64)]),  # Rockies
    (0.50, 2.5, [(-119, 36), (-121, 40), (-122, 45), (-123, 49), (-127, 53), (-132, 57),
                 (-138, 59.5)]),  # Sierra Nevada, Cascades, Coast Mountains
    (0.55, 2.0, [(-153, 61), (-150, 63), (-145, 63), (-141, 61.5)]),  # Alaska Range
    (0.35, 2.0, [(-162, 68), (-152, 68), (-142, 69)]),  # Brooks Range
    (0.25, 2.5, [(-85, 34), (-81, 37), (-78, 40), (-74, 42), (-71, 44), (-68, 46)]),  # Appalachians
]

# Plateaus and massifs: (height, lon, lat, lon radius, lat radius).
PLATEAUS = [
    (0.70, 87, 33, 13, 4.5),  # Tibet
    (0.30, 102, 47, 12, 4),  # Mongolia
    (0.30, 57, 32, 9, 5),  # Iran
    (0.25, 36, 39, 6, 2.5),  # Anatolia
    (0.50, 39, 10, 5, 5),  # Ethiopia
    (0.35, 36, 0, 4, 4),  # East Africa
    (0.20, 25, -25, 10, 8),  # Southern Africa
    (0.25, 6, 23, 3, 3),  # Hoggar
    (0.25, 18, 21, 2.5, 2.5),  # Tibesti
    (0.12, 77, 17, 5, 5),  # Deccan
    (0.70, -67, -19, 4, 5),  # Altiplano
    (0.18, -45, -18, 6, 6),  # Brazilian highlands
    (0.20, -62, 5, 5, 3),  # Guiana highlands
    (0.35, -113, 39, 7, 5),  # Great Basin, Colorado plateau
    (0.25, -102, 22, 5, 4),  # Mexican plateau
]

# Moisture: (amount, lon, lat, lon radius, lat radius); negative is drier.
MOISTURE = [
    (-0.90, 8, 23, 26, 7.5), (-0.50, 25, 23, 12, 6),  # Sahara
    (-0.90, 47, 22, 10, 7),  # Arabia
    (-0.60, 60, 30, 12, 6), (-0.50, 71, 26.5, 4, 3),  # Iran, Thar
    (-0.70, 62, 41, 9, 4), (-0.35, 68, 48, 14, 4),  # Turan, Kazakh steppe
    (-0.85, 83, 39, 7, 2.5), (-0.70, 104, 42, 11, 3.5),  # Taklamakan, Gobi
    (-0.35, 87, 33, 12, 4),  # Tibet
    (-0.85, 132, -25, 14, 7),  # Australian interior
    (-0.50, 21, -23, 7, 6), (-0.60, 15, -22, 2.5, 7),  # Kalahari, Namib
    (-0.50, 46, 7, 5, 5),  # Horn of Africa
    (-0.80, -70, -22, 2.5, 8), (-0.60, -78, -10, 1.5, 6),  # Atacama, Peruvian coast
    (-0.50, -68, -45, 4, 6), (-0.30, -65, -32, 5, 6),  # Patagonia, Monte
    (-0.70, -110, 29, 8, 6), (-0.55, -116, 40, 5, 4),  # Sonora, Great Basin
    (-0.30, -102, 42, 5, 10), (-0.30, -103, 24, 4, 4),  # Great Plains, Mexican plateau
    (-0.35, -40, -8, 4, 4),  # Caatinga
    (0.60, -62, -4, 14, 9), (0.30, -45, -20, 3, 7),  # Amazon, Atlantic forest
    (0.40, -86, 12, 6, 5), (0.30, -75, 5, 4, 5),  # Central America, Colombia
    (0.55, 20, 0, 9, 6), (0.40, -5, 6, 9, 3),  # Congo, Guinea coast
    (0.30, 49, -17, 2, 6),  # Madagascar
    (0.60, 115, 0, 22, 9), (0.30, 103, 15, 8, 8), (0.35, 112, 26, 9, 7),  # SE Asia, S China
    (0.30, 85, 23, 6, 5), (0.40, 92, 24, 3, 3), (0.40, 75, 13, 1.5, 5),  # India
    (0.30, 138, 37, 6, 6),  # Japan
    (0.35, -82, 36, 10, 9), (0.40, -124, 50, 4, 8),  # Eastern US, Pacific Northwest
    (0.30, 5, 50, 12, 8),  # Western Europe
    (0.45, 152, -28, 2.5, 10), (0.30, 172, -41, 5, 5), (0.45, -73, -45, 2, 6),  # E Australia, NZ, S Chile
    (0.25, 133, -13, 10, 3),  # Top End
    (0.15, 100, 60, 35, 6),  # Siberian taiga
]

# Land colours on a temperature x moisture grid. Unit icons are OR-ed onto the
# picture, so even the deserts stay well short of white.
PAL_T = [0.05, 0.30, 0.55, 0.90]
PAL_M = [0.0, 0.45, 1.0]
PALETTE = np.array([
    [(146, 140, 118), (128, 132, 108), (112, 124, 100)],  # tundra
    [(140, 136, 104), (86, 106, 70), (56, 84, 58)],  # boreal
    [(172, 158, 110), (120, 136, 80), (72, 108, 58)],  # temperate
    [(206, 180, 134), (160, 148, 86), (40, 90, 46)],  # tropical
], np.float64)

DEEP_SEA = (10, 34, 74)
SHELF_SEA = (40, 94, 140)
LAKE_WATER = (58, 112, 154)
ICE = (238, 243, 247)
ICE_BLUE = (176, 200, 232)
ROCK = (142, 126, 102)
COAST_INK = (30, 31, 32)
BORDER_INK = (70, 52, 40)


def wrap_dlon(lon, lon0):
    return (lon - lon0 + 180) % 360 - 180


def blob(lon, lat, lon0, lat0, rx, ry):
    return np.exp(-((wrap_dlon(lon, lon0) / rx) ** 2 + ((lat - lat0) / ry) ** 2))


def ridge(points, half_width):
    """Closeness 0..1 to a polyline, measured in map pixels."""
    px = np.array([(lon + 180) / 360 * W for lon, _ in points])
    py = np.array([row_of(lat) for _, lat in points])
    xs = np.arange(W) + 0.5
    ys = np.arange(H)[:, None] + 0.5
    best = np.full((H, W), np.inf)
    for i in range(len(points) - 1):
        ax, ay, bx, by = px[i], py[i], px[i + 1], py[i + 1]
        dx, dy = bx - ax, by - ay
        t = np.clip(((xs - ax) * dx + (ys - ay) * dy) / (dx * dx + dy * dy), 0, 1)
        best = np.minimum(best, np.hypot(xs - ax - t * dx, ys - ay - t * dy))
    return np.exp(-(best / half_width) ** 2)


def heights(lon, lat, rng):
    """Smooth height envelope of the ranges and plateaus, and the rough relief
    inside it that the hill-shading brings out."""
    env = np.zeros((H, W))
    for height, half_width, points in RANGES:
        env = np.maximum(env, height * ridge(points, 1.6 * half_width))
    for height, lon0, lat0, rx, ry in PLATEAUS:
        env = np.maximum(env, height * blob(lon, lat, lon0, lat0, rx, ry))
    rough = 1 - np.abs(2 * fractal(rng, 90, 60, 3) - 1)  # ridged noise
    return env, env * rough


def hillshade(h, strength):
    """Brightness of a height field lit from the north-west; 1 on the flat."""
    dx = (np.roll(h, -1, axis=1) - np.roll(h, 1, axis=1)) * strength
    dy = np.zeros_like(h)
    dy[1:-1] = (h[2:] - h[:-2]) * strength
    light = np.array([-1.0, -1.0, 1.4])
    light /= np.linalg.norm(light)
    lambert = (-dx * light[0] - dy * light[1] + light[2]) / np.sqrt(dx * dx + dy * dy + 1)
    return lambert / light[2]


def palette(t, m):
    ti = np.interp(t, PAL_T, np.arange(len(PAL_T)))
    mi = np.interp(m, PAL_M, np.arange(len(PAL_M)))
    t0 = np.minimum(np.floor(ti).astype(int), len(PAL_T) - 2)
    m0 = np.minimum(np.floor(mi).astype(int), len(PAL_M) - 2)
    ft = (ti - t0)[..., None]
    fm = (mi - m0)[..., None]
    c00, c01 = PALETTE[t0, m0], PALETTE[t0, m0 + 1]
    c10, c11 = PALETTE[t0 + 1, m0], PALETTE[t0 + 1, m0 + 1]
    return (c00 * (1 - fm) + c01 * fm) * (1 - ft) + (c10 * (1 - fm) + c11 * fm) * ft


def land_colours(lon, lat, land, ice, rng):
    # Warp the latitude a little so that the climate belts do not run ruler-straight.
    alat = np.abs(lat + 8 * (fractal(rng, 16, 11, 3) - 0.5))
    env, relief = heights(lon, lat, rng)
    h = 0.6 * env + 0.4 * relief
    temp = np.interp(alat, [0, 20, 30, 45, 55, 62, 68, 73, 77, 90],
                     [1.0, 0.95, 0.8, 0.55, 0.4, 0.3, 0.18, 0.06, -0.02, -0.1]) - 0.45 * h
    wet = np.interp(alat, [0, 8, 15, 22, 30, 40, 50, 60, 70, 90],
                    [0.95, 0.85, 0.55, 0.3, 0.32, 0.5, 0.65, 0.65, 0.5, 0.4])
    interior = smoothstep(0.55, 0.95, blur(land, 22))
    wet = wet - 0.25 * interior * smoothstep(15, 30, alat) * (1 - smoothstep(55, 65, alat))
    for amount, lon0, lat0, rx, ry in MOISTURE:
        wet = wet + amount * blob(lon, lat, lon0, lat0, rx, ry)
    wet = np.clip(wet + 0.12 * (fractal(rng, 24, 16, 4) - 0.5), 0, 1)
    temp = temp + 0.06 * (fractal(rng, 30, 20, 3) - 0.5)

    col = palette(np.clip(temp, 0, 1), wet)
    col = lerp(col, ROCK, np.clip(1.4 * h - 0.25, 0, 0.75))
    # Grain: a fine mottle that keeps large flat areas from looking printed.
    col = col * (0.94 + 0.12 * fractal(rng, 150, 100, 2))[..., None]
    shade = hillshade(relief, 2.0)
    col = col * np.clip(shade, 0.6, 1.3)[..., None]
    # Polar ice caps, then snow on the highest and coldest peaks.
    polar = np.maximum(ice, smoothstep(0.02, -0.06, temp))
    snow = np.maximum(polar, smoothstep(0.6, 0.85, relief + 0.2 * (0.5 - temp)) * 0.8)
    ice_col = np.array(ICE) * (0.93 + 0.07 * fractal(rng, 60, 40, 3))[..., None]
    ice_col = ice_col * np.clip(0.8 + 0.2 * shade, 0.8, 1.05)[..., None]
    # The ice sheets turn blue-grey towards their margins and in long streaks.
    # tone_down squeezes the brightness of the ice but keeps its hue, so this
    # tint is what gives the ice its texture. Its noise has a generator of its
    # own, leaving the noise of the rest of the picture as it was.
    streaks = fractal(np.random.RandomState(1984), 30, 60, 3)
    margin = 1 - smoothstep(0.4, 0.95, blur(np.minimum(polar, land), 2.5))
    blue = np.clip(0.7 * margin + 1.2 * (streaks - 0.5) + 0.25, 0, 1) * polar
    ice_col = lerp(ice_col, ice_col * np.array(ICE_BLUE) / np.array(ICE), blue)
    return lerp(col, ice_col, snow), polar


def sea_colours(lat, land, rng):
    """Deep water, lighter over the shelves near land, paler toward the poles."""
    near = np.clip(0.9 * blur(land, 1.2) + 0.7 * blur(land, 4) + 0.45 * blur(land, 14), 0, 1) ** 0.7
    col = lerp(np.array(DEEP_SEA, np.float64), SHELF_SEA, near)
    col = col * (0.92 + 0.16 * fractal(rng, 12, 8, 3))[..., None]
    polar = smoothstep(68, 80, np.abs(lat)) * 0.35
    return lerp(col, (120, 150, 178), polar)


def graticule():
    """Alpha of a 30-degree grid of one-pixel lines."""
    g = np.zeros((H, W))
    g[:, ::W // 12] = 1
    for lat in (-60, -30, 0, 30, 60):
        g[int(np.floor(row_of(lat))), :] = 1
    return g


def paint_map(layers, cls4, rng):
    lon, lat = pixel_lonlat()
    land4 = (cls4 != C_SEA) & (cls4 != C_LAKE)
    land = block_mean(land4)
    lake = block_mean(cls4 == C_LAKE)
    ice = np.clip(block_mean(dark(layers["ice"]) & land4) / np.maximum(land, 1e-9), 0, 1)
    shore, lakeshore = block_mean(dark(layers["shore"])), block_mean(dark(layers["lakeshore"]))
    borders, rivers = block_mean(dark(layers["borders"])), block_mean(dark(layers["rivers"]))

    ground, polar = land_colours(lon, lat, land, ice, rng)
    water = sea_colours(lat, land + lake, rng)
    water = lerp(water, LAKE_WATER, lake / np.maximum(1 - land, 1e-9))
    img = lerp(water, ground, land)
    grid = graticule()
    img = lerp(img, (230, 240, 250), grid * (0.16 - 0.06 * land))
    img = lerp(img, LAKE_WATER, np.clip(rivers * 0.5, 0, 1) * land * (1 - ice))
    img = lerp(img, BORDER_INK, np.clip(borders * 0.5, 0, 1) * land)
    img = lerp(img, COAST_INK, np.clip(lakeshore * 0.55, 0, 1))
    img = lerp(img, COAST_INK, np.clip(shore * 0.8, 0, 1))
    # Land showing even a fifth of polar white is ice that nobody owns.
    return tone_down(img), polar > 0.2


# --------------------------------------------------------------------- files

def write_bmp(path, rgb):
    """A plain 24-bit BMP: 14-byte file header, 40-byte info header, rows
    bottom-up in BGR order. Rows of 600 pixels need no padding."""
    h, w, _ = rgb.shape
    row = w * 3
    pad = (-row) % 4
    size = 54 + (row + pad) * h
    header = b"BM" + size.to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    info = (40).to_bytes(4, "little") + w.to_bytes(4, "little") + h.to_bytes(4, "little")
    info += (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(4)
    info += ((row + pad) * h).to_bytes(4, "little") + (2835).to_bytes(4, "little") * 2 + bytes(8)
    body = b"".join(rgb[y, :, ::-1].tobytes() + bytes(pad) for y in range(h - 1, -1, -1))
    with open(path, "wb") as f:
        f.write(header + info + body)


def territory_counts(cls):
    win = cls[WIN_Y0:WIN_Y1 + 1, WIN_X0:WIN_X1 + 1]
    return {name: int((win == k).sum()) for name, k in
            (("red", C_RED), ("blue", C_BLUE), ("yellow", C_YELLOW), ("green", C_GREEN), ("sea", C_SEA))}


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    layerdir, outdir = argv[1], argv[2]
    names = ("regions", "land", "lakes", "shore", "lakeshore", "borders", "rivers")
    layers = {name: load(layerdir, name) for name in names}
    # The grey fill of the regions layer marks the ice sheets.
    grey = (np.abs(layers["regions"].astype(int) - 128) < 20).all(axis=2, keepdims=True)
    layers["ice"] = np.where(grey, 0, 255).astype(np.uint8)
    cls4 = classify(layers["regions"], dark(layers["land"]), ~dark(layers["lakes"]) & dark(layers["land"]))
    picture, ice = paint_map(layers, cls4, np.random.RandomState(1983))
    tac = territory_classes(cls4, ice)
    write_bmp(os.path.join(outdir, "World.map"), picture)
    write_bmp(os.path.join(outdir, "World.tac"), paint_classes(tac))
    if len(argv) == 4:
        write_png(os.path.join(argv[3], "world-map.png"), picture)
    print("World.tac:", territory_counts(tac))


if __name__ == "__main__":
    main(sys.argv)
