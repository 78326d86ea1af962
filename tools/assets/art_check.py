"""Checks of the artwork for artwork.py --check: file format, determinism and
the layout rules the game relies on (cells at their places, black where the
game draws or ORs, pure side colours)."""

import os

import numpy as np

import art_bmp
import art_font
import art_glyphs
import art_sheet

EXPECTED = {  # name: (width, height, bits)
    "PanelGFX": (100, 450, 24),
    "PanelImage": (600, 60, 24),
    "Titlegfx": (600, 400, 24),
    "Fontgfx": (280, 16, 8),
}


class Report:
    def __init__(self):
        self.failures = []
        self.count = 0

    def expect(self, ok, what):
        self.count += 1
        if not ok:
            self.failures.append(what)


def check_files(r, root, files, build_all):
    again = build_all()
    for name, (_, data) in build_all().items():
        r.expect(again[name][1] == data, f"{name}: two drawings differ")
    for path, data in files.items():
        try:
            with open(path, "rb") as f:
                on_disk = f.read()
        except OSError:
            r.expect(False, f"{os.path.relpath(path, root)}: missing")
            continue
        r.expect(on_disk == data, f"{os.path.relpath(path, root)}: out of date, run artwork.py")


def check_headers(r, built):
    for name, (width, height, bits) in EXPECTED.items():
        data = built[name][1]
        h = art_bmp.read_header(data)
        r.expect(h["magic"] == b"BM" and h["size"] == len(data), f"{name}: file header")
        r.expect(h["info_size"] == 40 and h["planes"] == 1 and h["compression"] == 0,
                 f"{name}: not a plain BITMAPINFOHEADER BMP")
        r.expect((h["width"], h["height"], h["bits"]) == (width, height, bits),
                 f"{name}: size or depth {h['width']}x{h['height']}x{h['bits']}")
        decoded = art_bmp.decode(data)
        pixels = decoded[0] if bits == 8 else decoded
        r.expect(np.array_equal(pixels, built[name][0]), f"{name}: does not decode to its pixels")
    _, palette = art_bmp.decode(built["Fontgfx"][1])
    r.expect(len(palette) == 4 and palette[0] == (0, 0, 0) and palette[3] == (255, 255, 255)
             and all(c[0] == c[1] == c[2] for c in palette), "Fontgfx: palette is not black, two greys, white")


def _black(a):
    return not np.any(a)


def check_sheet(r, s):
    s = s.astype(int)
    for row, colour in enumerate(art_sheet.ROW_COLOURS):
        for flag in range(1, 5):
            x, y = 10 * (flag - 1), 10 * row
            cell = s[y:y + 9, x:x + 9].reshape(-1, 3)
            lit = np.any(cell, axis=1)
            r.expect(lit.sum() >= 12, f"icon {flag} of row {row} is (nearly) empty")
            r.expect(np.all(cell[lit] == colour), f"icon {flag} of row {row} is not pure {colour}")
            r.expect(_black(s[y + 9, x:x + 10]) and _black(s[y:y + 10, x + 9]),
                     f"icon {flag} of row {row} spills out of its 9 x 9 cell")
    icons = [s[0:9, 10 * f:10 * f + 9] for f in range(4)]
    r.expect(all(not np.array_equal(a, b) for i, a in enumerate(icons) for b in icons[i + 1:]),
             "two unit icons look the same")
    frame = s[0:13, 40:53]
    r.expect(np.all((frame == 0) | (frame == 255)) and frame[0, 0].all() and frame[12, 12].all()
             and _black(frame[6, 6]) and _black(frame[0, 6]), "selection frame is not four white corner brackets")
    raised, pressed = s[50:75, 0:50], s[75:100, 0:50]
    r.expect(raised.max() < 255 and pressed.max() == 255, "arrows: raised should be grey, pressed white")
    for y in (50, 75):
        # A triangle is widest at its back: right of centre for a left arrow.
        left = (s[y + 4:y + 21, 4:21].max(axis=2) > 150).sum(axis=0)
        right = (s[y + 4:y + 21, 29:46].max(axis=2) > 150).sum(axis=0)
        r.expect(left.argmax() > 8 and right.argmax() < 8, f"arrows at y {y} do not point left and right")
    for side, colour in enumerate(art_sheet.P.SIDE_COLOURS):
        plate = s[100 + 25 * side:125 + 25 * side, 0:60]
        off = [c for c in range(3) if colour[c] == 0]
        r.expect(_black(plate[:, :, off]), f"side plate {side} is not in its pure colour")
        level = plate.max(axis=2)
        r.expect(level[:, 30].max() < level[:, 0].min() and level[:, 30].max() < level[:, 59].min(),
                 f"side plate {side} is not dark in the middle")
    cells = [s[200 + 25 * c:225 + 25 * c, 0:60] for c in range(3)]
    cells += [s[250 + 25 * n:275 + 25 * n, 0:60] for n in range(1, 5)]
    r.expect(len({c.tobytes() for c in cells}) == len(cells), "two panel cells are the same")
    r.expect(_black(s[375:400, 0:25]), "empty player box is not black")
    for p, colour in enumerate(art_sheet.P.SIDE_COLOURS):
        off = [c for c in range(3) if colour[c] == 0]
        for y in (400, 425):
            box = s[y:y + 25, 25 * p:25 * p + 25]
            r.expect(_black(box[:, :, off]) and box.max() == 255, f"player box {p} at y {y} is not in its side colour")
        r.expect(not np.array_equal(s[400:425, 25 * p:25 * p + 25], s[425:450, 25 * p:25 * p + 25]),
                 f"human and computer boxes of player {p} look the same")
    radii = []
    for k in range(20):  # 20 and 21 lie under the player boxes
        f = s[20 * k:20 * k + 20, 60:80]
        lit = np.argwhere(f.max(axis=2) > 40)
        centre = lit.mean(axis=0) if len(lit) else np.array([0, 0])
        r.expect(np.all(np.abs(centre - 10) < 0.6), f"explosion {k} is not centred on (10, 10)")
        radii.append(np.sqrt(len(lit) / np.pi))
        r.expect(f[10, 10].max() > 200, f"explosion {k} has no hot core")
    r.expect(all(b >= a for a, b in zip(radii, radii[1:])) and 2.5 < radii[0] < 4.5 and 8.5 < radii[19] < 10.5,
             f"explosions do not grow from about 3 to 10 pixels: {radii[0]:.1f} .. {radii[19]:.1f}")
    nx, ny = art_sheet.NARROW_RAISED
    px, py = art_sheet.NARROW_PRESSED
    nw = art_sheet.NARROW_W
    r.expect((nx, ny, px, py, nw) == (80, 50, 80, 75, 16), "narrow arrows are not 16 x 25 at (80, 50) and (80, 75)")
    narrow_raised, narrow_pressed = s[ny:ny + 25, nx:nx + nw], s[py:py + 25, px:px + nw]
    r.expect(narrow_raised.max() < 255 and narrow_pressed.max() == 255,
             "narrow arrows: raised should be grey, pressed white")
    for cell in (narrow_raised, narrow_pressed):
        r.expect(np.all(cell[:, 0].max(axis=1) < 20) and np.all(cell[0].max(axis=1) < 20) and cell[12, 2:14].max() > 40,
                 "narrow arrow is not a framed button")
        across = (cell[4:21, 2:14].max(axis=2) > 150).sum(axis=0)
        r.expect(across.argmax() < 6 and across[-1] <= 1, "narrow arrow does not point right")
    r.expect(_black(s[0:50, 80:100]) and _black(s[100:400, 80:100]) and _black(s[50:100, 96:100]),
             "columns 80..99 are not empty outside the narrow arrows")
    r.expect(_black(s[0:50, 53:60]) and _black(s[50:100, 50:60]), "gaps between cells are not black")


def _box_black(img, x, y, w, h):
    return _black(img[y:y + h, x:x + w])


# Where the game draws, restated here from its layout rather than taken from
# the drawing code, so that a box drawn in the wrong place is caught.
PANEL_BOXES = {"close-up": (5, 5, 100, 50), "name": (110, 5, 125, 20), "state": (110, 30, 60, 25),
               "side": (175, 30, 60, 25), "bearing digits": (435, 7, 21, 16), "power digits": (492, 7, 14, 16),
               "bearing arrows": (420, 30, 50, 25), "power arrows": (475, 30, 50, 25),
               "name glyphs": (117, 7, 112, 16)}
TITLE_BOXES = {"map name": (190, 200, 217, 16), "cities": (243, 245, 14, 16), "silos": (398, 245, 14, 16),
               "subs": (243, 290, 14, 16), "skill": (398, 290, 14, 16)}
TITLE_ARROWS = [(155, 195), (420, 195), (155, 240), (265, 240), (310, 240), (420, 240),
                (155, 285), (265, 285), (310, 285), (420, 285)]


def check_panel(r, p):
    for name, (x, y, w, h) in PANEL_BOXES.items():
        r.expect(_box_black(p, x, y, w, h), f"panel {name} box is not black")
    for x, y, w, h in ((5, 5, 100, 50), (110, 5, 125, 20), (420, 5, 50, 20), (475, 5, 50, 20)):
        r.expect(p[y - 1, x:x + w].max() > 0 and p[y + h, x:x + w].max() > 0, f"panel box at ({x}, {y}) has no frame")
    yy, xx = np.mgrid[0:60, 0:600]
    dist = np.hypot(xx - 390, yy - 30)
    r.expect(np.mean(p[dist < 19].max(axis=1) < 40) > 0.75, "bearing dial is not a black disc at (390, 430)")
    r.expect(p[np.abs(dist - 23) < 1].mean() > 60, "bearing dial has no bezel")
    edge = []
    for a in np.radians(np.arange(7.5, 360, 15)):  # between the ticks, all round the rim
        px = lambda d: p[int(round(30 - d * np.cos(a) - 0.5)), int(round(390 + d * np.sin(a) - 0.5))].max()
        edge.append(px(19.5) < 50 and px(23) > 40)
    r.expect(all(edge), "bearing dial is not a disc of radius 21 centred on (390, 430)")
    r.expect(p[(dist > 16) & (dist < 20)].max() > 150, "bearing dial has no compass ticks")
    abort = p[6:55, 261:340].astype(int)
    r.expect(abort.std() > 20 and (abort.min(axis=2) > 200).sum() > 60, "abort button has no lettering")
    red = abort[:, :, 0] - abort[:, :, 2]
    r.expect(red.mean() > 40 and np.all(red[:, [0, 1, -2, -1]] > 20) and np.all(red[[0, 1, -2, -1], :] > 20),
             "abort button is not a red face over the whole of 261..339 x 6..54")
    r.expect(p[5, 259:342].max() < 20 and p[55, 259:342].max() < 20 and p[5:56, 260].max() < 20
             and p[5:56, 340].max() < 20, "abort button has no dark frame just outside its click area")
    guard = p[1:60, 253:348].astype(int)
    yellow = (guard[:, :, 0] > 150) & (guard[:, :, 1] > 120) & (guard[:, :, 2] < 60)
    r.expect(yellow.sum() > 400, "abort button has no striped guard")
    fire = p[5:56, 555:596].astype(int)
    r.expect((fire[:, :, 0] - fire[:, :, 2]).mean() > 60, "fire button is not red")
    r.expect((fire.min(axis=2) > 200).sum() > 40, "fire button has no missile")
    # The power gauge: a dark channel over 531..549 x 5..55 with a tick every 5 rows from row 55 up.
    channel = p[5:56, 531:550].astype(int)
    r.expect(channel.mean() < 50 and channel[:, 6:13].max() < 80, "power gauge channel is not dark")
    r.expect(p[5:56, 529:531].max() < 30, "power gauge channel has no dark rim on its left")
    ticks = channel[::-1, 0].max(axis=1) > 100  # row 55 first
    r.expect(all(ticks[k] == (k % 5 == 0) for k in range(51)), "power gauge has no tick every 10 points of power")
    r.expect(p[0:4, 527:553].max() < 130 and p[56:60, 527:553].max() < 150,
             "power gauge has marks above or below its channel")


def check_title(r, t):
    for name, (x, y, w, h) in TITLE_BOXES.items():
        r.expect(_box_black(t, x - 2, y - 2, w + 4, h + 4), f"title {name} box is not black")
    for p in range(4):
        r.expect(_box_black(t, 155 + 30 * p, 330, 25, 25), f"title player box {p} is not black")
    for ax, ay in TITLE_ARROWS:
        w = 16 if ax == 420 else 25  # the right-hand buttons are drawn 16 wide, as they answer
        r.expect(t[ay - 1, ax:ax + w].max() > 0 and t[ay + 25, ax:ax + w].max() > 0,
                 f"title arrow place ({ax}, {ay}) has no frame")
        if w == 16:
            beside = t[ay - 1:ay + 26, 436:446].astype(int)
            r.expect(beside.min() > 35 and beside.max() < 100,
                     f"title arrow place ({ax}, {ay}) reaches past x 435 into the plate")
    start = t[330:356, 310:446].astype(int)
    r.expect((start[:, :, 0] - start[:, :, 2]).mean() > 60 and (start.min(axis=2) > 200).sum() > 80,
             "start button is not a red button with light lettering")
    top = t[20:120, 60:540].astype(int)
    r.expect((top.min(axis=2) > 200).sum() > 4000, "title lettering is missing")


def check_font(r, idx):
    r.expect(_black(idx[:, 0:7]), "font glyph 0 is not blank")
    glyphs = [idx[:, 7 * g:7 * g + 7] for g in range(40)]
    for g in range(1, 40):
        r.expect((glyphs[g] == 3).sum() >= 2, f"font glyph {g} has no ink")
        r.expect(_black(glyphs[g][:, 0]), f"font glyph {g} leaves no gap on its left")
    r.expect(len({glyphs[g].tobytes() for g in range(40)}) == 40, "two font glyphs are the same")
    for ch, g in (("0", 2), ("9", 11), ("A", 12), ("Z", 37), ("$", 39), (".", 1)):
        r.expect(np.array_equal(glyphs[g], art_font.glyph_levels(ch)) and art_glyphs.FONT_ORDER[g] == ch,
                 f"font glyph {g} is not {ch!r}")
    code = {ch: art_font.glyph_levels(ch) == 3 for ch in art_glyphs.CODE_ALPHABET if ch != "-"}
    code["-"] = art_font.dash_levels() == 3
    r.expect(code["-"].sum() >= 3 and code["-"].any(axis=1).sum() == 1, "the dash is not a bar")
    near = [a + b for i, a in enumerate(code) for b in list(code)[i + 1:] if (code[a] ^ code[b]).sum() < 4]
    r.expect(not near, f"code glyphs within 3 pixels of each other: {' '.join(near)}")
    letters = np.concatenate(glyphs[12:38], axis=1)
    r.expect(_black(letters[:3]) and _black(letters[14:]), "capitals leave rows 3..13")


def check_greyout(r, sheet, root):
    """The grey icons ORed over every pixel of every built-in map stay a neutral grey."""
    grey = sheet[40:49, 0:39].reshape(-1, 3)
    grey = np.unique(grey[np.any(grey, axis=1)], axis=0).astype(int)
    for name in ("Archipelago", "Pangaea", "Twin", "World"):
        path = os.path.join(root, "resources", "maps", name + ".map")
        try:
            with open(path, "rb") as f:
                land = art_bmp.decode(f.read()).reshape(-1, 3)
        except OSError:
            r.expect(False, f"{name}.map: missing")
            continue
        land = np.unique(land, axis=0).astype(int)
        spread = max(int(np.ptp(land | g, axis=1).max()) for g in grey)
        r.expect(spread <= 40, f"grey icons over {name} are not neutral: channels {spread} apart")


def run(root, built, files, build_all):
    r = Report()
    check_files(r, root, files, build_all)
    check_headers(r, built)
    check_sheet(r, built["PanelGFX"][0])
    check_greyout(r, built["PanelGFX"][0], root)
    check_panel(r, built["PanelImage"][0])
    check_title(r, built["Titlegfx"][0])
    check_font(r, built["Fontgfx"][0])
    for failure in r.failures:
        print("FAIL:", failure)
    print(f"{r.count - len(r.failures)} of {r.count} checks passed")
    return 1 if r.failures else 0
