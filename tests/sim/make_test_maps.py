#!/usr/bin/python3
"""Writes the small map files of the maps-* and placement-* scenarios.

    tests/sim/make_test_maps.py [--check]

The pictures are 8-bit run-length-encoded BMPs, a few kilobytes each, so that the
scenarios stay small in the repository. The territory maps use the exact colours the
game looks for. --check only compares what it would write with the files in place.
"""
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

# Colours as (R, G, B).
RED, BLUE, YELLOW, GREEN = (255, 0, 0), (0, 0, 255), (255, 255, 0), (0, 255, 0)
SEA = (0, 255, 255)
BLACK, WHITE = (0, 0, 0), (255, 255, 255)
W, H = 600, 400


def bmp_header(width, height, bpp, compression, palette, pixels):
    """A BMP file: 14-byte file header, 40-byte info header, palette (R, G, B) and the pixel bytes."""
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    offset = 14 + 40 + len(pal)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, len(pixels), 2835, 2835,
                       len(palette), 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + pal + pixels


def rle8(width, height, index):
    """Run-length-encodes a picture given as index(x, y), bottom row first as BMP stores it."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        x = 0
        while x < width:
            i = index(x, y)
            n = 1
            while x + n < width and n < 255 and index(x + n, y) == i:
                n += 1
            out += bytes((n, i))
            x += n
        out += b"\0\0"  # end of line
    out[-2:] = b"\0\1"  # end of picture
    return bytes(out)


def picture(palette, index, width=W, height=H):
    return bmp_header(width, height, 8, 1, palette, rle8(width, height, index))


def one_bit(width, height, index, palette):
    """An uncompressed 1-bit picture."""
    row_bytes = (width + 31) // 32 * 4
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(row_bytes)
        for x in range(width):
            if index(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        rows += row
    return bmp_header(width, height, 1, 0, palette, bytes(rows))


def png(width, height, rgb):
    """A plain 24-bit PNG, for the file that is not a BMP."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# The quadrant map: red and blue above a band of sea (y 170-229), yellow and green below it, and a black
# strip (x 290-309) between the lands where nothing may be placed.
def quad_region(x, y):
    if 170 <= y < 230:
        return "sea"
    if 290 <= x < 310:
        return "none"
    if y < 170:
        return "red" if x < 290 else "blue"
    return "yellow" if x < 290 else "green"


TAC_PALETTE = [BLACK, RED, BLUE, YELLOW, GREEN, SEA]
TAC_INDEX = {"none": 0, "red": 1, "blue": 2, "yellow": 3, "green": 4, "sea": 5}
MAP_PALETTE = [(40, 40, 40), (150, 90, 60), (90, 130, 70), (140, 130, 80), (70, 110, 60), (30, 60, 140)]


def quad_tac(drop=()):
    """The quadrant territory map, with the regions named in drop painted black."""
    def index(x, y):
        region = quad_region(x, y)
        return 0 if region in drop else TAC_INDEX[region]
    return picture(TAC_PALETTE, index)


def quad_map():
    return picture(MAP_PALETTE, lambda x, y: TAC_INDEX[quad_region(x, y)])


def green_only_outside_tac():
    """Green land only in the 4-pixel margin that placement never samples."""
    def index(x, y):
        region = quad_region(x, y)
        if region == "green":
            return 4 if x >= 596 else 0
        return TAC_INDEX[region]
    return picture(TAC_PALETTE, index)


def files():
    good_map, good_tac = quad_map(), quad_tac()
    cut = one_bit(W, H, lambda x, y: (x // 20 + y // 20) % 2, [BLACK, WHITE])
    return {
        # Good pairs for placement.
        "placement-defaults/Quad.map": good_map,
        "placement-defaults/Quad.tac": good_tac,
        "placement-max/Quad.map": good_map,
        "placement-max/Quad.tac": good_tac,
        "placement-two-players/Quad.map": good_map,
        "placement-two-players/Quad.tac": good_tac,
        "placement-three-players/Quad.map": good_map,
        "placement-three-players/Quad.tac": good_tac,
        # The listing: sorting, case, names cut at the first dot, a built-in name taken, non-maps.
        "maps-listing/b.map": good_map,
        "maps-listing/b.tac": good_tac,
        "maps-listing/A.MAP": good_map,
        "maps-listing/A.tac": good_tac,
        "maps-listing/north.pole.map": good_map,
        "maps-listing/Twin.map": good_map,
        "maps-listing/Twin.TAC": good_tac,
        "maps-listing/c.tac": good_tac,
        # One bad pair each.
        "maps-missing-map/Gone.old.map": good_map,
        "maps-missing-map/Gone.tac": good_tac,
        "maps-missing-tac/Lone.map": good_map,
        "maps-map-folder/Dir.v2.map": good_map,
        "maps-map-folder/Dir.map/keep": b"",
        "maps-map-folder/Dir.tac": good_tac,
        "maps-empty/Empty.map": b"",
        "maps-empty/Empty.tac": good_tac,
        "maps-truncated/Cut.map": cut[: len(cut) // 2],
        "maps-truncated/Cut.tac": good_tac,
        "maps-png/Png.map": png(W, H, (30, 60, 140)),
        "maps-png/Png.tac": good_tac,
        "maps-wrong-size/Small.map": good_map,
        "maps-wrong-size/Small.tac": picture(TAC_PALETTE, lambda x, y: TAC_INDEX[quad_region(2 * x, 2 * y)], 300, 200),
        "maps-no-land/Nogreen.map": good_map,
        "maps-no-land/Nogreen.tac": green_only_outside_tac(),
        "maps-no-sea/Dry.map": good_map,
        "maps-no-sea/Dry.tac": quad_tac(drop=("sea",)),
    }


def main():
    check = "--check" in sys.argv[1:]
    stale = []
    for name, data in files().items():
        path = HERE / name
        if check:
            if not path.is_file() or path.read_bytes() != data:
                stale.append(name)
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    if stale:
        print("out of date: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
