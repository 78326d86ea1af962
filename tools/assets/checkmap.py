#!/usr/bin/python3
"""Checks a map pair (NAME.map picture, NAME.tac territory mask) against the
rules the game's unit placement relies on, and prints what it measured.

Usage: checkmap.py NAME.map NAME.tac     exit status 1 if a rule is broken
       checkmap.py --self-test NAME.map NAME.tac
                  (breaks a good pair in known ways; each must be caught)
"""

import struct
import sys
from collections import deque

import numpy as np

W, H = 600, 400
# Icon centres are only ever sampled here (inclusive bounds).
X0, X1, Y0, Y1 = 4, 584, 4, 364

# Territory colours as 0x00BBGGRR, the way the game compares them.
TERRITORIES = {"red": 0x0000FF, "blue": 0xFF0000, "yellow": 0x00FFFF, "green": 0x00FF00}
SEA = 0xFFFF00
MAX_NEUTRALS = 2

MAX_SPREAD = 0.10  # largest minus smallest territory, relative to the largest
MIN_SEA_SHARE = 0.20  # of the sampled window
MIN_PIECE = 30  # smallest allowed connected piece of a territory or of the sea
MAIN_SEA_SHARE = 0.95  # of the sea in one body, so submarines share one ocean
GAP = 25  # territory pieces must chain together across gaps of 2 * GAP pixels
MAX_THIN = 0.03  # share of a territory in strips under five pixels wide
# The game ORs icons, explosions and "THE END" onto the picture and draws
# missile trails in white: above this in a channel they show poorly or vanish.
CEILING = 176


def read_bmp(path):
    with open(path, "rb") as f:
        return parse_bmp(f.read())


def parse_bmp(data):
    """Decodes a plain 24-bit bottom-up BMP into an (H, W) array of 0x00BBGGRR."""
    if len(data) < 54 or data[:2] != b"BM":
        raise ValueError("not a BMP file")
    size, offset = struct.unpack_from("<I4xI", data, 2)
    hsize, width, height, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
    problems = []
    if hsize != 40:
        problems.append(f"info header is {hsize} bytes, not 40")
    if (width, height) != (W, H):
        problems.append(f"size {width} x {height}, not {W} x {H} bottom-up")
    if planes != 1 or bpp != 24 or compression != 0:
        problems.append(f"{bpp} bits, compression {compression}: not plain 24-bit")
    stride = (width * 3 + 3) & ~3
    if size != len(data) or offset + stride * abs(height) > len(data):
        problems.append("file size does not match the header")
    if problems:
        raise ValueError("; ".join(problems))
    rows = np.frombuffer(data, np.uint8, stride * H, offset).reshape(H, stride)[::-1, : W * 3]
    px = rows.reshape(H, W, 3).astype(np.uint32)  # B, G, R
    return px[..., 0] << 16 | px[..., 1] << 8 | px[..., 2]


def grow(mask, r):
    """Dilation by a (2r+1) square; wraps east-west like the game's map."""
    out = mask.copy()
    for d in range(1, r + 1):
        out |= np.roll(mask, d, 1) | np.roll(mask, -d, 1)
    rows = out.copy()
    for d in range(1, r + 1):
        out[d:] |= rows[:-d]
        out[:-d] |= rows[d:]
    return out


def pieces(mask):
    """Sizes of the 8-connected pieces of mask (wrapping in x), by flood fill."""
    seen = np.zeros(mask.shape, bool)
    sizes = []
    for y0, x0 in zip(*np.nonzero(mask)):
        if seen[y0, x0]:
            continue
        seen[y0, x0] = True
        queue = deque([(y0, x0)])
        n = 0
        while queue:
            y, x = queue.popleft()
            n += 1
            for dy in (-1, 0, 1):
                ny = y + dy
                if ny < 0 or ny >= H:
                    continue
                for dx in (-1, 0, 1):
                    nx = (x + dx) % W
                    if mask[ny, nx] and not seen[ny, nx]:
                        seen[ny, nx] = True
                        queue.append((ny, nx))
        sizes.append(n)
    return sorted(sizes, reverse=True)


def water_like(rgb):
    """Blue-dominant picture pixels, as the sea is painted."""
    r, g, b = rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16
    return (b > g) & (b > r + 10)


def column_class(tac):
    cls = np.full(tac.shape, 2, np.int8)
    cls[tac == SEA] = 0
    for colour in TERRITORIES.values():
        cls[tac == colour] = 1
    return cls


def check(pic, tac):
    """Returns the list of broken rules (empty if the pair is fine)."""
    failures = []
    window = np.zeros((H, W), bool)
    window[Y0 : Y1 + 1, X0 : X1 + 1] = True
    colours, counts = np.unique(tac, return_counts=True)
    known = set(TERRITORIES.values()) | {SEA}
    print("territory-map colours (0x00BBGGRR: pixels):")
    for c, n in zip(colours, counts):
        name = next((k for k, v in TERRITORIES.items() if v == c), "sea" if c == SEA else "neutral")
        print(f"  0x{int(c):06X}  {name:8s} {n}")
    neutrals = [c for c in colours if int(c) not in known]
    if len(neutrals) > MAX_NEUTRALS:
        failures.append(f"{len(neutrals)} neutral colours (at most {MAX_NEUTRALS}): smoothing or stray colours?")

    land = {}
    for name, colour in TERRITORIES.items():
        land[name] = int(np.count_nonzero((tac == colour) & window))
    sea_count = int(np.count_nonzero((tac == SEA) & window))
    print(f"in the sampled window x {X0}..{X1}, y {Y0}..{Y1}:")
    for name, n in land.items():
        print(f"  {name:8s} {n} land pixels")
    print(f"  sea      {sea_count} pixels")
    for name, n in land.items():
        if n == 0:
            failures.append(f"no {name} territory inside the sampled window")
    if max(land.values()) and (max(land.values()) - min(land.values())) > MAX_SPREAD * max(land.values()):
        failures.append(f"territory sizes differ by more than {MAX_SPREAD:.0%}")
    if sea_count < MIN_SEA_SHARE * np.count_nonzero(window):
        failures.append(f"sea is under {MIN_SEA_SHARE:.0%} of the sampled window")

    for name, colour in TERRITORIES.items():
        mask = tac == colour
        sizes = pieces(mask)
        if sizes and sizes[-1] < MIN_PIECE:
            failures.append(f"{name}: a piece of only {sizes[-1]} pixels")
        chained = pieces(grow(mask, GAP))
        if len(chained) > 1:
            failures.append(f"{name}: split into parts more than {2 * GAP} px apart")
        opened = grow(~grow(~mask, 2), 2)
        thin = np.count_nonzero(mask & ~opened) / max(1, np.count_nonzero(mask))
        print(f"  {name:8s} {len(sizes)} pieces, {thin:.1%} in thin strips")
        if thin > MAX_THIN:
            failures.append(f"{name}: {thin:.1%} of it in thin slivers")
    sea_sizes = pieces(tac == SEA)
    if sea_sizes and sea_sizes[-1] < MIN_PIECE:
        failures.append(f"sea: a pond of only {sea_sizes[-1]} pixels")
    if sea_sizes and sea_sizes[0] < MAIN_SEA_SHARE * sum(sea_sizes):
        failures.append("sea: not one connected ocean")

    # The picture must show sea where the mask has sea, and land elsewhere.
    wet = water_like(pic)
    sea = tac == SEA
    terr = np.isin(tac, list(TERRITORIES.values()))
    dry_sea = 1 - np.count_nonzero(wet & sea) / max(1, np.count_nonzero(sea))
    wet_land = np.count_nonzero(wet & terr) / max(1, np.count_nonzero(terr))
    print(f"picture: {dry_sea:.2%} of the sea not drawn as water, {wet_land:.2%} of the land drawn as water")
    if dry_sea > 0.01 or wet_land > 0.01:
        failures.append("the picture does not match the territory map")
    # Not a rule, a warning: the game works, but its white marks get lost.
    brightest = pic_rgb(pic).max(axis=2)
    bright = int(np.count_nonzero(brightest > CEILING))
    print(f"picture: brightest channel {int(brightest.max())}, {bright} pixels above {CEILING}")
    if bright:
        print(f"WARNING: {bright} picture pixels have a channel above {CEILING}: missile trails, "
              "explosions and \"THE END\" show poorly or not at all over them")

    # East-west seam: the step from column 599 to column 0 must be no larger
    # than the steps on either side of it (a grid line on column 0 shows in
    # the step before it and after it alike).
    cls = column_class(tac)
    changes = np.count_nonzero(cls != np.roll(cls, -1, 1), axis=0)
    seam_tac = changes[W - 1]
    allowed = 6 + 2 * max(changes[W - 2], changes[0])
    steps = np.abs(pic_rgb(pic) - pic_rgb(np.roll(pic, -1, 1))).sum(axis=(0, 2))
    seam_pic = steps[W - 1]
    allowed_pic = 1.5 * max(steps[W - 2], steps[0]) + np.median(steps)
    print(f"seam: {seam_tac} class changes (allowed {allowed:.0f}), "
          f"picture step {seam_pic} (allowed {allowed_pic:.0f})")
    if seam_tac > allowed or seam_pic > allowed_pic:
        failures.append("the map does not wrap seamlessly east-west")
    return failures


def pic_rgb(pic):
    return np.stack([pic & 0xFF, (pic >> 8) & 0xFF, pic >> 16], axis=-1).astype(np.int64)


def self_test(pic, tac, pic_bytes):
    """Breaks a good pair in known ways and makes sure each is caught."""
    assert not check_quietly(pic, tac), "the good pair must pass"
    red = TERRITORIES["red"]
    cases = {}  # name: (picture, mask, words the failure must contain)
    # Seam: the east half replaced by a shifted copy.
    cases["broken seam"] = (np.concatenate([pic[:, :300], pic[:, 150:450]], 1),
                            np.concatenate([tac[:, :300], tac[:, 150:450]], 1), "wrap")
    # Smoothed edges: in-between colours along every border.
    soft = tac.copy()
    edge = (tac != np.roll(tac, 1, 1))
    soft[edge] = (tac[edge] >> 1) & 0x7F7F7F
    cases["anti-aliased mask"] = (pic, soft, "neutral colours")
    # One territory much larger: half of blue painted red.
    big = tac.copy()
    ys, xs = np.nonzero(tac == TERRITORIES["blue"])
    half = ys < np.median(ys)
    big[ys[half], xs[half]] = red
    cases["unbalanced"] = (pic, big, "sizes differ")
    # A three-pixel red speck in the middle of the sea.
    speck = tac.copy()
    ys, xs = np.nonzero(tac == SEA)
    speck[ys[len(ys) // 2], xs[len(ys) // 2] : xs[len(ys) // 2] + 3] = red
    cases["speck"] = (pic, speck, "piece of only")
    # The picture of another place: mask flipped upside down.
    cases["picture mismatch"] = (pic, tac[::-1], "does not match")
    for name, (p, t, words) in cases.items():
        failures = check_quietly(p, t)
        assert any(words in f for f in failures), f"not caught: {name} ({failures})"
        print(f"caught: {name}")
    # File format: 32 bits per pixel, and a top-down bitmap.
    for name, off, fmt, value in (("32-bit", 28, "<H", 32), ("top-down", 22, "<i", -H)):
        bad = bytearray(pic_bytes)
        struct.pack_into(fmt, bad, off, value)
        try:
            parse_bmp(bytes(bad))
            raise AssertionError(f"not caught: {name}")
        except ValueError:
            print(f"caught: {name} file")
    print("self-test passed")


def check_quietly(pic, tac):
    import contextlib
    import io

    with contextlib.redirect_stdout(io.StringIO()):
        return check(pic, tac)


def main(argv):
    args = argv[1:]
    selftest = args[:1] == ["--self-test"]
    if selftest:
        args = args[1:]
    if len(args) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        pic = read_bmp(args[0])
        tac = read_bmp(args[1])
    except (OSError, ValueError) as err:
        print(f"FAIL: unreadable: {err}")
        return 1
    if selftest:
        with open(args[0], "rb") as f:
            self_test(pic, tac, f.read())
        return 0
    failures = check(pic, tac)
    for f in failures:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} rule(s) broken")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
