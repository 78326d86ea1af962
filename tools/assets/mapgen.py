#!/usr/bin/python3
"""Generates the built-in world maps: a shown picture NAME.map and a territory
mask NAME.tac for each, 600 x 400 24-bit BMP files.

Height fields are periodic in x so that every map wraps east-west without a
seam. Everything derives from fixed seeds: two runs give identical files.

Usage: mapgen.py [--previews DIR] [OUTDIR [NAME ...]]
       (default: resources/maps, all maps; previews show picture and mask)
"""

import os
import struct
import sys
import zlib

import numpy as np

W, H = 600, 400
# Placement only ever samples icon centres inside this window (inclusive).
WIN_X0, WIN_X1, WIN_Y0, WIN_Y1 = 4, 584, 4, 364

# Territory-map colours as (R, G, B).
RED = (255, 0, 0)
BLUE = (0, 0, 255)
YELLOW = (255, 255, 0)
GREEN = (0, 255, 0)
SEA = (0, 255, 255)
NEUTRAL_LAND = (0, 0, 0)  # ice caps and snow peaks: nothing placed
LAKE = (64, 64, 64)  # inland water: nothing placed
TERRITORY_COLOURS = (RED, BLUE, YELLOW, GREEN)

# The game ORs unit icons, explosion frames and the letters of "THE END" onto
# the picture and sets missile trail pixels to pure white; over a channel near
# 255 they do not show. No channel of a picture goes above CEILING, so OR with
# a 255 channel, or a white trail pixel, always changes that channel by at
# least 255 - CEILING = 79. Colours up to KNEE are kept as they are.
CEILING = 176
KNEE = 96

# Surface classes used while building a map. BARREN is land that belongs to
# no territory (islands stranded far from any).
OCEAN, LAND, LAKE_CLASS, ICE, PEAK, BARREN = 0, 1, 2, 3, 4, 5

YY, XX = np.mgrid[0:H, 0:W].astype(np.float64)
IN_WINDOW = np.zeros((H, W), bool)
IN_WINDOW[WIN_Y0 : WIN_Y1 + 1, WIN_X0 : WIN_X1 + 1] = True

# ------------------------------------------------------------------ noise


def hash_unit(ix, iy, seed):
    """Uniform [0, 1) per integer lattice point (splitmix64 of the coordinates)."""
    with np.errstate(over="ignore"):
        z = (ix.astype(np.uint64) * np.uint64(0x9E3779B97F4A7C15)) ^ (
            iy.astype(np.uint64) * np.uint64(0xC2B2AE3D27D4EB4F)
        )
        z = z + np.uint64(seed) * np.uint64(0x165667B19E3779F9)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    return (z >> np.uint64(11)).astype(np.float64) / float(1 << 53)


def perlin(x, y, cells, seed):
    """Gradient noise with `cells` lattice cells across the map width.

    The lattice index wraps in x, so the noise is periodic over W pixels.
    Output is roughly in [-0.7, 0.7].
    """
    u = x * cells / W
    v = y * cells / W
    i0 = np.floor(u).astype(np.int64)
    j0 = np.floor(v).astype(np.int64)
    fu = u - i0
    fv = v - j0

    def grad(i, j, dx, dy):
        a = 2.0 * np.pi * hash_unit(np.mod(i, cells), j + 1000, seed)
        return np.cos(a) * dx + np.sin(a) * dy

    n00 = grad(i0, j0, fu, fv)
    n10 = grad(i0 + 1, j0, fu - 1, fv)
    n01 = grad(i0, j0 + 1, fu, fv - 1)
    n11 = grad(i0 + 1, j0 + 1, fu - 1, fv - 1)
    su = fu * fu * fu * (fu * (fu * 6 - 15) + 10)
    sv = fv * fv * fv * (fv * (fv * 6 - 15) + 10)
    a = n00 + su * (n10 - n00)
    b = n01 + su * (n11 - n01)
    return a + sv * (b - a)


def fbm(x, y, seed, base_cells=4, octaves=6, gain=0.5):
    total = np.zeros_like(x)
    amp, norm = 1.0, 0.0
    for o in range(octaves):
        total += amp * perlin(x, y, base_cells << o, seed + 17 * o)
        norm += amp
        amp *= gain
    return total / norm


def ridged(x, y, seed, base_cells=6, octaves=4):
    """Sharp-crested noise in [0, 1] for mountain chains."""
    total = np.zeros_like(x)
    amp, norm = 1.0, 0.0
    for o in range(octaves):
        r = 1.0 - np.abs(perlin(x, y, base_cells << o, seed + 31 * o)) * 1.6
        total += amp * np.clip(r, 0, 1) ** 2
        norm += amp
        amp *= 0.5
    return total / norm


def warped(seed, strength):
    """Map coordinates pushed around by periodic noise, for organic shapes."""
    wx = XX + strength * fbm(XX, YY, seed + 101, base_cells=4, octaves=4)
    wy = YY + strength * fbm(XX, YY, seed + 202, base_cells=4, octaves=4)
    return wx, wy


def wrap_dx(x, cx):
    d = np.abs(x - cx) % W
    return np.minimum(d, W - d)


def blob(x, y, cx, cy, rx, ry):
    """Smooth bump, 1 at the centre and 0 beyond the ellipse (wrapped in x)."""
    d2 = (wrap_dx(x, cx) / rx) ** 2 + ((y - cy) / ry) ** 2
    return np.clip(1.0 - d2, 0.0, None) ** 1.5


# ------------------------------------------------------- raster helpers


def shift(a, dy, dx, fill=False):
    """Shift a mask by (dy, dx): wraps in x, fills with `fill` in y."""
    out = np.roll(a, dx, axis=1)
    if dy > 0:
        out = np.concatenate([np.full((dy, W), fill, a.dtype), out[:-dy]])
    elif dy < 0:
        out = np.concatenate([out[-dy:], np.full((-dy, W), fill, a.dtype)])
    return out


def neighbour_count(mask):
    """Number of set pixels among the 8 neighbours."""
    m = mask.astype(np.int8)
    return sum(shift(m, dy, dx) for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx)


def blur(a, radius, passes):
    """Repeated box blur; wraps in x and clamps at the top and bottom."""
    for _ in range(passes):
        acc = np.zeros_like(a)
        for d in range(-radius, radius + 1):
            acc += np.roll(a, d, axis=1)
        a = acc / (2 * radius + 1)
        pad = np.concatenate([np.repeat(a[:1], radius, 0), a, np.repeat(a[-1:], radius, 0)])
        c = np.cumsum(np.concatenate([np.zeros((1, W)), pad]), axis=0)
        a = (c[2 * radius + 1 :] - c[: -2 * radius - 1]) / (2 * radius + 1)
    return a


def dilate(mask, steps=1):
    for _ in range(steps):
        m = mask.copy()
        for dy, dx in ((-1, 0), (1, 0), (0, -1), (0, 1), (-1, -1), (-1, 1), (1, -1), (1, 1)):
            m |= shift(mask, dy, dx)
        mask = m
    return mask


def distance_from(mask, limit):
    """Approximate distance (in pixels) to the nearest set pixel, up to `limit`.

    Alternates square and cross steps, giving octagonal distance.
    """
    dist = np.full((H, W), float(limit))
    reached = mask.copy()
    dist[reached] = 0.0
    for d in range(1, limit):
        grown = reached | shift(reached, 1, 0) | shift(reached, -1, 0)
        grown |= shift(reached, 0, 1) | shift(reached, 0, -1)
        if d % 2 == 0:
            for dy, dx in ((-1, -1), (-1, 1), (1, -1), (1, 1)):
                grown |= shift(reached, dy, dx)
        dist[grown & ~reached] = d
        reached = grown
    return dist


def components(mask):
    """8-connected components with x wrap-around, by union-find over row runs.

    Returns (labels, sizes): labels 0 is background, sizes[k] the pixel count.
    """
    parent = [0]

    def find(a):
        while parent[a] != a:
            parent[a] = parent[parent[a]]
            a = parent[a]
        return a

    def union(a, b):
        a, b = find(a), find(b)
        if a != b:
            parent[max(a, b)] = min(a, b)

    rows = []
    prev = []
    for y in range(H):
        edges = np.diff(np.concatenate(([0], mask[y].astype(np.int8), [0])))
        runs = []
        for s, e in zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1)):
            rid = len(parent)
            parent.append(rid)
            runs.append((s, e, rid))
        for s, e, rid in runs:
            for ps, pe, pid in prev:
                if ps <= e and pe >= s:
                    union(rid, pid)
                # Diagonal contact across the seam.
                if (s == 0 and pe == W) or (e == W and ps == 0):
                    union(rid, pid)
        if len(runs) > 1 and runs[0][0] == 0 and runs[-1][1] == W:
            union(runs[0][2], runs[-1][2])
        rows.append(runs)
        prev = runs
    labels = np.zeros((H, W), np.int32)
    remap = {}
    for y, runs in enumerate(rows):
        for s, e, rid in runs:
            root = find(rid)
            labels[y, s:e] = remap.setdefault(root, len(remap) + 1)
    sizes = np.bincount(labels.ravel(), minlength=len(remap) + 1)
    return labels, sizes


def drop_small(mask, min_size):
    """Clear the components of `mask` smaller than `min_size` pixels."""
    labels, sizes = components(mask)
    small = sizes < min_size
    small[0] = False
    return mask & ~small[labels]


def smooth_mask(mask, passes=2):
    """Majority filter: rounds off jagged coasts and removes one-pixel spurs."""
    for _ in range(passes):
        n = neighbour_count(mask)
        mask = np.where(mask, n >= 3, n >= 5)
    return mask


# ----------------------------------------------------------- BMP output


def write_png(path, rgb):
    """Minimal truecolour PNG, for the previews in the documentation."""
    h, w, _ = rgb.shape
    raw = b"".join(b"\0" + rgb[y].astype(np.uint8).tobytes() for y in range(h))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_bmp(path, rgb):
    """Plain 24-bit BMP: BITMAPINFOHEADER, uncompressed, bottom-up rows."""
    h, w, _ = rgb.shape
    row = w * 3
    pad = (-row) % 4
    body = bytearray()
    for y in range(h - 1, -1, -1):
        body += rgb[y, :, ::-1].astype(np.uint8).tobytes() + b"\0" * pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + body)


# -------------------------------------------------------- map designs


def height_archipelago(seed, centres):
    """Noise islands gathered into one cluster around each territory centre."""
    wx, wy = warped(seed, 30.0)
    field = sum(np.exp(-((wrap_dx(wx, cx) / 80.0) ** 2 + ((wy - cy) / 68.0) ** 2)) for cx, cy in centres)
    # Narrow channels along the zero lines of a second noise split the
    # clusters into separate islands.
    channels = np.clip(1.0 - 7.0 * np.abs(perlin(wx, wy, 9, seed + 2)), 0, 1)
    return 0.45 * field + 0.6 * fbm(wx, wy, seed + 1, base_cells=12) - 0.3 * channels


def height_twin(seed, centres):
    """Two continents facing each other across two oceans."""
    wx, wy = warped(seed, 45.0)
    shape = blob(wx, wy, 148, 190, 125, 165) + blob(wx, wy, 452, 200, 118, 160)
    return 0.5 * shape ** 0.7 + fbm(wx, wy, seed + 1, base_cells=4)


def height_pangaea(seed, centres):
    """One sprawling supercontinent around an inland sea."""
    wx, wy = warped(seed, 50.0)
    shape = blob(wx, wy, 300, 195, 250, 170) - 1.3 * blob(wx, wy, 285, 205, 85, 42)
    return 0.5 * np.sign(shape) * np.abs(shape) ** 0.7 + fbm(wx, wy, seed + 1, base_cells=4)


# name: (height function, seed, land fraction in the window, territory centres)
MAPS = {
    "Archipelago": (height_archipelago, 1101, 0.30, ((95, 112), (335, 100), (215, 270), (482, 262))),
    "Twin": (height_twin, 2202, 0.40, ((148, 110), (452, 285), (452, 120), (148, 280))),
    "Pangaea": (height_pangaea, 3303, 0.45, ((190, 125), (410, 270), (410, 125), (190, 270))),
}

# ---------------------------------------------------- surface and land


def sea_level(h, land_fraction):
    return np.quantile(h[IN_WINDOW], 1.0 - land_fraction)


def centre_distances(centres, seed):
    """Squared distances to each territory centre, measured in noise-warped
    coordinates so that the borders between territories meander."""
    wx, wy = warped(seed + 300, 35.0)
    return np.stack([wrap_dx(wx, cx) ** 2 + (wy - cy) ** 2 for cx, cy in centres])


def even_out_land(h, land_fraction, d2):
    """Raises or lowers the ground around each centre until the land nearest
    to every centre is the same inside the placement window."""
    nearest = np.argmin(d2, axis=0)
    d = np.sqrt(d2)
    soft = np.exp(-(d - d.min(axis=0)) / 40.0)
    soft /= soft.sum(axis=0)
    offsets = np.zeros(len(d2))
    t = h
    for _ in range(80):
        t = h + np.tensordot(offsets, soft, axes=1)
        land = (t > sea_level(t, land_fraction)) & IN_WINDOW
        counts = np.bincount(nearest[land], minlength=len(d2)).astype(float)
        err = 1.0 - counts / counts.mean()
        if np.max(np.abs(err)) < 0.01:
            break
        offsets += 0.12 * err
    return t


def ice_caps(seed):
    edge = fbm(XX, np.zeros_like(XX), seed + 500, base_cells=5, octaves=3)
    north = 10 + 16 * edge
    edge = fbm(XX, np.full_like(XX, 90.0), seed + 600, base_cells=5, octaves=3)
    south = 378 + 18 * edge
    return (YY < north) | (YY > south)


def classify(h, seed):
    """Per-pixel surface class: ocean, land, lake or ice (peaks come later)."""
    land = smooth_mask(h > 0, passes=3)
    # Strips of land, then of water, under three pixels wide disappear.
    land = dilate(~dilate(~land))
    land = ~dilate(~dilate(land))
    land = drop_small(land, 80)
    water = ~land
    # Tiny ponds become land; bigger enclosed water becomes lakes.
    labels, sizes = components(water)
    ocean_id = int(np.argmax(sizes[1:])) + 1
    ponds = (labels != ocean_id) & water & (sizes[labels] < 60)
    land |= ponds
    cls = np.full((H, W), OCEAN, np.int8)
    cls[land] = LAND
    cls[water & ~ponds & (labels != ocean_id)] = LAKE_CLASS
    ice = ice_caps(seed)
    cls[ice] = ICE
    # Land cut off into specks by the ice edge goes under the ice too.
    cls[ice | ((cls == LAND) & ~drop_small(cls == LAND, 80))] = ICE
    return cls


def relief(cls, seed):
    """Ground elevation 0..1 for shading: rising inland, with mountain chains."""
    land = cls == LAND
    wx, wy = warped(seed + 400, 10.0)
    inland = distance_from(~land, 48)
    chains = ridged(wx, wy, seed + 3, base_cells=5)
    present = np.clip(fbm(wx, wy, seed + 4, base_cells=3, octaves=3) * 2.5 + 0.25, 0, 1)
    crags = ridged(XX, YY, seed + 6, base_cells=24, octaves=2)
    e = 0.22 * np.clip(inland / 45.0, 0, 1) ** 0.8
    e += (0.5 * chains + 0.18 * crags) * present * np.clip(inland / 10.0, 0, 1)
    e += 0.14 * (fbm(XX, YY, seed + 5, base_cells=12, octaves=5) + 0.5)
    e = np.where(land, np.clip(e, 0, None), 0.0)
    # Scale so that the highest ground sits at about 1.
    return e / np.quantile(e[land], 0.998)


def snow_cover(e, seed):
    """0..1 snow on the high ground, its lower edge ragged by noise."""
    n = fbm(XX, YY, seed + 950, base_cells=30, octaves=3)
    u = np.clip((e - 0.86) / 0.12 + 0.9 * n, 0, 1)
    return u * u * (3 - 2 * u)


def add_peaks(cls, e, seed):
    """Snow-capped summits: shown white, and nothing is placed on them."""
    land = cls == LAND
    peak = land & (snow_cover(e, seed) > 0.5)
    peak = drop_small(smooth_mask(peak, 1) & land, 12)
    cls = cls.copy()
    cls[peak] = PEAK
    return cls


# ---------------------------------------------------- territories


def balanced_partition(cls, d2, bias):
    """Splits land among the centres with a weighted (power) Voronoi diagram.

    Weights are nudged until every territory holds the same land inside the
    placement window, once `bias` (the land each will gain or lose in
    clean-up) is added.
    """
    land = cls == LAND
    ys, xs = np.nonzero(land)
    inwin = IN_WINDOW[ys, xs]
    dist = d2[:, ys, xs].T
    weights = np.zeros(len(d2))
    step = 2000.0
    for it in range(800):
        owner = np.argmin(dist - weights, axis=1)
        counts = np.bincount(owner[inwin], minlength=len(d2)) + bias
        err = 1.0 - counts / counts.mean()
        if np.max(np.abs(err)) < 0.003:
            break
        weights += step * err
        if it % 100 == 99:
            step *= 0.6
    terr = np.full((H, W), -1, np.int8)
    terr[ys, xs] = owner
    return terr


def whole_islands(terr, cls, limit):
    """An island smaller than `limit` pixels goes whole to one territory."""
    labels, sizes = components(cls == LAND)
    for lab in np.flatnonzero((sizes < limit) & (np.arange(len(sizes)) > 0)):
        island = labels == lab
        terr[island] = np.bincount(terr[island], minlength=4).argmax()
    return terr


def box_sum(a, radius):
    """Sum over a (2r+1) square around each pixel; wraps in x."""
    acc = np.zeros_like(a)
    for d in range(-radius, radius + 1):
        acc += np.roll(a, d, axis=1)
    c = np.cumsum(np.concatenate([np.zeros((radius + 1, W)), acc, np.zeros((radius, W))]), axis=0)
    return c[2 * radius + 1 :] - c[: -2 * radius - 1]


def mode_filter(terr, cls, radius, passes):
    """Each land pixel takes the territory most common around it: smooths
    borders and dissolves thin slivers of one territory along another."""
    land = cls == LAND
    for _ in range(passes):
        votes = np.stack([box_sum(((terr == k) & land).astype(float), radius) for k in range(4)])
        terr = np.where(land, np.argmax(votes, axis=0), -1).astype(np.int8)
    return terr


def absorb_fragments(terr, cls, min_piece):
    """Gives small cut-off pieces of a territory to the neighbour they touch."""
    land = cls == LAND
    for _ in range(3):
        changed = False
        for k in range(4):
            labels, sizes = components(terr == k)
            for lab in np.flatnonzero((sizes < min_piece) & (np.arange(len(sizes)) > 0)):
                piece = labels == lab
                ring = dilate(piece) & land & ~piece
                if not ring.any():
                    continue  # a whole small island: it stays as it is
                terr[piece] = np.bincount(terr[ring], minlength=4).argmax()
                changed = True
        if not changed:
            break
    return terr


def strays(mask, reach):
    """Pixels of `mask` farther than a sea gap of 2 * `reach` from its main body."""
    if not mask.any():
        return mask
    labels, sizes = components(dilate(mask, reach))
    pieces, piece_sizes = components(mask)
    main = labels[pieces == int(np.argmax(piece_sizes[1:])) + 1][0]
    return mask & (labels != main)


def gather_strays(terr, cls, reach):
    """Islands stranded far from their own territory join a territory whose
    main body is close to them, or else become neutral land."""
    cls = cls.copy()
    for k in range(4):
        stray = strays(terr == k, reach)
        labels, sizes = components(stray)
        for lab in range(1, len(sizes)):
            piece = labels == lab
            near = dilate(piece, 2 * reach)
            for j in range(4):
                body = (terr == j) & ~strays(terr == j, reach)
                if j != k and (near & body).any():
                    terr[piece] = j
                    break
            else:
                terr[piece] = -1
                cls[piece] = BARREN
    return terr, cls


def territory_counts(terr, cls):
    land = (cls == LAND) & IN_WINDOW
    return [int(np.count_nonzero((terr == k) & land)) for k in range(4)]


# ----------------------------------------------------------- drawing


def ramp(t, stops):
    """Colour gradient: stops are (position, (r, g, b)) with rising positions."""
    pos = np.array([p for p, _ in stops])
    cols = np.array([c for _, c in stops], float)
    t = np.clip(t, pos[0], pos[-1])
    return np.stack([np.interp(t, pos, cols[:, i]) for i in range(3)], axis=-1)


def blend(img, mask, colour, amount):
    img[mask] = img[mask] * (1.0 - amount) + np.array(colour, float) * amount


def hillshade(e):
    """Relief lighting from the north-west; 1.0 on flat ground."""
    s = 0.25 * (np.roll(e, 1, 1) + np.roll(e, -1, 1) + shift(e, 1, 0, 0.0) + shift(e, -1, 0, 0.0))
    gx = np.roll(s, -1, 1) - np.roll(s, 1, 1)
    gy = shift(s, -1, 0, 0.0) - shift(s, 1, 0, 0.0)
    return np.clip(1.0 - 6.0 * (gx + gy), 0.7, 1.3)


def sea_colours(h, cls, seed):
    water = (cls == OCEAN) | (cls == LAKE_CLASS)
    coast_dist = distance_from(~water, 48)
    floor = np.clip(-blur(h, 6, 3), 0, None) / 0.35
    depth = np.clip(0.7 * coast_dist / 48 + 0.4 * floor, 0, 1)
    depth += 0.04 * fbm(XX, YY, seed + 700, base_cells=12, octaves=3)
    sea = ramp(depth, ((0.0, (58, 132, 166)), (0.12, (38, 100, 146)),
                       (0.4, (22, 64, 116)), (1.0, (9, 28, 68))))
    lake = ramp(depth, ((0.0, (64, 128, 150)), (1.0, (34, 84, 120))))
    return np.where((cls == LAKE_CLASS)[..., None], lake, sea)


def land_colours(e, cls, seed):
    shade = hillshade(e)[..., None]
    snow = snow_cover(e, seed)[..., None]
    e = np.clip(e, 0, 1)
    col = ramp(e, ((0.0, (58, 104, 48)), (0.25, (82, 120, 56)), (0.45, (118, 124, 70)),
                   (0.62, (124, 102, 70)), (0.8, (116, 102, 92)), (0.93, (148, 144, 140))))
    # Deserts in dry lowlands away from the poles, tundra towards them.
    lat = np.abs(YY - 200.0) / 200.0
    dry = np.clip((-fbm(XX, YY, seed + 800, base_cells=3, octaves=4) - 0.08) * 4, 0, 1)
    dry *= np.clip(1.2 - 2.0 * lat, 0, 1) * np.clip(1.4 - 2.2 * e, 0, 1)
    col = col * (1 - dry[..., None]) + np.array([166, 144, 96.0]) * dry[..., None]
    cold = np.clip((lat - 0.72) * 4, 0, 1)[..., None]
    col = col * (1 - cold) + np.array([124, 130, 118.0]) * cold
    # Kept fairly dark: unit icons are OR-ed onto the map and need contrast.
    col *= 0.88 * shade
    col += 4.0 * fbm(XX, YY, seed + 900, base_cells=40, octaves=2)[..., None]
    white = np.array([242, 245, 250.0]) * np.clip(shade, 0, 1.06) ** 1.6
    return col * (1 - snow) + white * snow


def ice_colours(ice, seed):
    """Pack ice: blue-grey at its broken edge, paler towards the pole, in
    streaks of bluer and whiter ice. The streaks change the tint more than the
    brightness: tone_down squeezes the brightness of the ice but keeps its hue."""
    inside = distance_from(~ice, 14) / 14.0
    col = ramp(inside, ((0.0, (170, 194, 218)), (0.5, (206, 222, 240)), (1.0, (230, 239, 250))))
    n = fbm(XX, YY * 3.0, seed + 1000, base_cells=16, octaves=4)
    return col + n[..., None] * np.array([64.0, 44.0, 14.0])


def tone_down(img):
    """Highlight curve: each pixel's brightest channel m goes through a smooth
    shoulder, the identity up to KNEE and then a rational curve that leaves it
    with the same slope and reaches CEILING at 255 (slope there about 1/4,
    so ice and snow keep their texture). The pixel's other channels are
    scaled with m, which keeps hue and saturation. Takes floats, returns bytes."""
    img = np.clip(img, 0.0, 255.0)
    m = img.max(axis=-1, keepdims=True)
    a = (255.0 - KNEE) / (CEILING - KNEE) - 1.0
    t = np.clip((m - KNEE) / (255.0 - KNEE), 0.0, None)
    curve = np.where(m > KNEE, KNEE + (CEILING - KNEE) * (1.0 + a) * t / (1.0 + a * t), m)
    out = img * (curve / np.maximum(m, 1e-9))
    return np.round(out).astype(np.uint8)


def edge_of(mask):
    """Pixels of `mask` with a 4-neighbour outside it."""
    out = np.zeros_like(mask)
    for dy, dx in ((-1, 0), (1, 0), (0, -1), (0, 1)):
        out |= ~shift(mask, dy, dx, fill=True)
    return mask & out


def draw_map(h, e, cls, terr, seed):
    water = (cls == OCEAN) | (cls == LAKE_CLASS)
    ice = cls == ICE
    img = np.where(water[..., None], sea_colours(h, cls, seed), land_colours(e, cls, seed))
    # Graticule every 30 degrees (50 px) with the equator at y 200.
    grid = (XX % 50 == 0) | ((YY - 200) % 50 == 0)
    blend(img, grid & water, (120, 170, 205), 0.22)
    blend(img, grid & ~water, (230, 230, 210), 0.10)
    # Shallow rim along every shore, then a dark crisp coastline.
    blend(img, edge_of(water), (110, 170, 190), 0.45)
    blend(img, edge_of(~water), (30, 38, 26), 0.6)
    # Faint dotted borders between territories.
    border = np.zeros((H, W), bool)
    for dy, dx in ((0, 1), (1, 0)):
        other = shift(terr, dy, dx, fill=-1)
        border |= (terr >= 0) & (other >= 0) & (other != terr)
    blend(img, border & (((XX + YY) % 3) != 0), (236, 226, 196), 0.38)
    img = np.where(ice[..., None], ice_colours(ice, seed), img)
    blend(img, edge_of(ice), (150, 172, 192), 0.7)
    return tone_down(img)


def draw_tac(cls, terr):
    img = np.zeros((H, W, 3), np.uint8)
    img[cls == OCEAN] = SEA
    img[(cls == ICE) | (cls == PEAK) | (cls == BARREN)] = NEUTRAL_LAND
    img[cls == LAKE_CLASS] = LAKE
    for k, colour in enumerate(TERRITORY_COLOURS):
        img[(cls == LAND) & (terr == k)] = colour
    return img


# ------------------------------------------------------------- driver


def build(name):
    height_fn, seed, land_fraction, centres = MAPS[name]
    d2 = centre_distances(centres, seed)
    h = height_fn(seed, centres)
    # Keep land away from the polar ice.
    h -= 0.6 * np.clip((np.abs(YY - 195.0) - 140.0) / 50.0, 0, 1)
    h = even_out_land(h, land_fraction, d2)
    h = h - sea_level(h, land_fraction)
    cls = classify(h, seed)
    e = relief(cls, seed)
    cls = add_peaks(cls, e, seed)
    # Clean-up moves some land between territories; aim the split so that
    # the territories come out even after it, keeping the most even try.
    bias = np.zeros(len(centres))
    best = None
    for _ in range(4):
        raw = balanced_partition(cls, d2, bias)
        terr = whole_islands(raw.copy(), cls, 2500)
        terr = mode_filter(terr, cls, 4, 2)
        terr = absorb_fragments(terr, cls, 300)
        terr, final_cls = gather_strays(terr, cls, 25)
        counts = np.array(territory_counts(terr, final_cls), float)
        spread = (counts.max() - counts.min()) / counts.mean()
        if best is None or spread < best[0]:
            best = (spread, terr, final_cls)
        if spread < 0.02:
            break
        bias = counts - np.array(territory_counts(raw, cls), float)
    _, terr, cls = best
    return h, e, cls, terr, seed


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    args = argv[1:]
    previews = None
    if args[:1] == ["--previews"]:
        previews, args = args[1], args[2:]
    outdir = args[0] if args else os.path.join(here, "..", "..", "resources", "maps")
    names = args[1:] or list(MAPS)
    os.makedirs(outdir, exist_ok=True)
    for name in names:
        h, e, cls, terr, seed = build(name)
        picture, mask = draw_map(h, e, cls, terr, seed), draw_tac(cls, terr)
        write_bmp(os.path.join(outdir, name + ".map"), picture)
        write_bmp(os.path.join(outdir, name + ".tac"), mask)
        if previews:
            os.makedirs(previews, exist_ok=True)
            gap = np.full((H, 8, 3), 255, np.uint8)
            side = np.concatenate([picture, gap, mask], axis=1)
            write_png(os.path.join(previews, f"maps-{name}.png"), side)
        sea = int(np.count_nonzero((cls == OCEAN) & IN_WINDOW))
        print(f"{name}: territories {territory_counts(terr, cls)}, sea {sea}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
