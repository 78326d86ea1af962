#!/usr/bin/python3
"""Writes the seed inputs of the map-pair fuzz target into tests/fuzz/corpus/seed-*.

    tests/fuzz/make_corpus.py

Good map pairs to start from, and malformed BMP files of every kind the loader must refuse
cleanly: cut headers, huge and negative sizes, odd depths, run-length data that runs off the
picture, palettes with indexes out of range. Inputs the fuzzer adds (named by their hash) are
left alone.
"""
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "sim"))
import make_test_maps as maps  # noqa: E402


def bmp(width, height, bpp, compression=0, palette=(), pixels=b"", info_size=40, masks=b"", clr_used=None):
    """A BMP with a 40-byte (or longer) info header, given raw pixel bytes."""
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bpp, compression, len(pixels), 2835, 2835,
                       len(palette) if clr_used is None else clr_used, 0)
    info += masks + bytes(max(0, info_size - 40 - len(masks)))
    offset = 14 + len(info) + len(pal)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + pal + pixels


def rows(width, height, bpp, value):
    """Uncompressed rows, bottom first, each padded to 4 bytes; value(x, y) is the pixel's raw bits."""
    out = bytearray()
    stride = (width * bpp + 31) // 32 * 4
    for y in range(height - 1, -1, -1):
        bits = 0
        for x in range(width):
            bits = bits << bpp | value(x, y)
        nbits = width * bpp
        row = (bits << (stride * 8 - nbits)).to_bytes(stride, "big") if nbits else bytes(stride)
        out += row
    return bytes(out)


def rle4(width, height, index):
    """4-bit run-length data, two equal nibbles a run."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        x = 0
        while x < width:
            i = index(x, y)
            n = 1
            while x + n < width and n < 255 and index(x + n, y) == i:
                n += 1
            out += bytes((n, i << 4 | i))
            x += n
        out += b"\0\0"
    out[-2:] = b"\0\1"
    return bytes(out)


def with_field(data, at, fmt, value):
    b = bytearray(data)
    struct.pack_into(fmt, b, at, value)
    return bytes(b)


def seeds():
    quad_map, quad_tac = maps.quad_map(), maps.quad_tac()
    pal4 = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]
    small8 = bmp(4, 4, 8, 0, pal4, rows(4, 4, 8, lambda x, y: (x + y) % 4))
    small24 = bmp(3, 2, 24, 0, (), rows(3, 2, 24, lambda x, y: 0xFF0000 >> (8 * x)))
    rle8_good = bytes((4, 1, 0, 0, 2, 2, 2, 3, 0, 0, 0, 4, 1, 2, 3, 0, 0, 0, 4, 3, 0, 1))
    rle8 = lambda tail: bmp(4, 4, 8, 1, pal4, rle8_good[:-2] + tail)  # noqa: E731
    tac_index = lambda x, y: maps.TAC_INDEX[maps.quad_region(x, y)]  # noqa: E731
    quad_rle4 = bmp(600, 400, 4, 2, maps.TAC_PALETTE, rle4(600, 400, tac_index))
    cut_one_bit = maps.one_bit(600, 400, lambda x, y: (x // 20 + y // 20) % 2, [maps.BLACK, maps.WHITE])
    return {
        # Good pairs, one file for both or two files one after the other.
        "quad-tac-rle8": quad_tac,
        "quad-tac-rle4": quad_rle4,
        "quad-pair": quad_map + quad_tac,
        "pair-tac-cut": quad_map + quad_tac[:3000],
        "pair-tac-small": quad_map + small24,
        "no-green-rle8": maps.green_only_outside_tac(),
        "no-sea-rle8": maps.quad_tac(drop=("sea",)),
        "two-lands-rle8": maps.quad_tac(drop=("yellow", "green")),
        "300x200-rle8": maps.picture(maps.TAC_PALETTE, lambda x, y: tac_index(2 * x, 2 * y), 300, 200),
        "600x400-one-bit-cut": cut_one_bit[: len(cut_one_bit) // 2],
        # Cut headers.
        "bm-only": b"BM",
        "file-header-only": small24[:14],
        "info-header-cut": small24[:30],
        "no-pixels": small24[:54],
        # Sizes.
        "huge-width": with_field(small24, 18, "<i", 0x7FFFFFFF),
        "huge-height": with_field(small24, 22, "<i", 0x7FFFFFFF),
        "negative-width": with_field(small24, 18, "<i", -3),
        "most-negative-height": with_field(small24, 22, "<i", -0x80000000),
        "top-down": bmp(3, -2, 24, 0, (), rows(3, 2, 24, lambda x, y: 0x00FF00)),
        "zero-height": with_field(small24, 22, "<i", 0),
        "huge-area-rle8": with_field(with_field(rle8(b"\0\1"), 18, "<i", 2048), 22, "<i", 2048),
        "600x400-claimed-3x2-data": with_field(with_field(small24, 18, "<i", 600), 22, "<i", 400),
        # Depths.
        "depth-0": with_field(small24, 28, "<H", 0),
        "depth-3": with_field(small24, 28, "<H", 3),
        "depth-7": with_field(small24, 28, "<H", 7),
        "depth-13": with_field(small24, 28, "<H", 13),
        "depth-64": with_field(small24, 28, "<H", 64),
        "depth-1": bmp(9, 3, 1, 0, [(0, 0, 0), (0, 255, 255)], rows(9, 3, 1, lambda x, y: (x + y) & 1)),
        "depth-2": bmp(5, 3, 2, 0, pal4, rows(5, 3, 2, lambda x, y: (x + y) % 4)),
        "depth-4": bmp(5, 3, 4, 0, pal4, rows(5, 3, 4, lambda x, y: (x * y) % 4)),
        "depth-8": small8,
        "depth-16": bmp(3, 3, 16, 0, (), rows(3, 3, 16, lambda x, y: 0x7C00 >> (5 * x))),
        "depth-16-565": bmp(3, 3, 16, 3, (), rows(3, 3, 16, lambda x, y: 0xF800 >> (5 * x + (x > 0))),
                            masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F)),
        "depth-32": bmp(2, 2, 32, 0, (), rows(2, 2, 32, lambda x, y: 0x00FFFF00 >> (8 * x))),
        "depth-32-fields-v4": bmp(2, 2, 32, 3, (), rows(2, 2, 32, lambda x, y: 0xFF0000FF), info_size=108,
                                  masks=struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        "v5-header": bmp(3, 2, 24, 0, (), rows(3, 2, 24, lambda x, y: 0x0000FF), info_size=124),
        "os2-header": b"BM" + struct.pack("<IHHI", 26 + 16, 0, 0, 26) + struct.pack("<IHHHH", 12, 2, 2, 1, 24) +
        bytes((0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0)),
        # Compression.
        "unknown-compression": with_field(small24, 30, "<I", 99),
        "jpeg-compression": with_field(small24, 30, "<I", 4),
        "fields-with-24-bits": with_field(small24, 30, "<I", 3),
        "rle8-with-24-bits": with_field(small24, 30, "<I", 1),
        "rle8-good": rle8(b"\0\1"),
        "rle8-run-past-row": rle8(bytes((200, 1, 0, 1))),
        "rle8-delta-past-picture": rle8(bytes((0, 2, 100, 100, 1, 1, 0, 1))),
        "rle8-absolute-past-data": rle8(bytes((0, 200, 1, 2))),
        "rle8-no-end": rle8(b""),
        "rle8-escape-cut": rle8(b"\0"),
        "rle8-index-out-of-range": rle8(bytes((7, 250, 0, 1))),
        "rle4-good": bmp(6, 2, 4, 2, [(16 * i, 0, 0) for i in range(16)], bytes((6, 0x12, 0, 0, 6, 0x34, 0, 1))),
        "rle4-run-past-row": bmp(6, 2, 4, 2, pal4, bytes((100, 0x12, 0, 1))),
        # Palettes.
        "palette-index-out-of-range": bmp(4, 2, 8, 0, pal4[:2], bytes((0, 1, 2, 255)) * 2),
        "palette-missing": bmp(4, 2, 8, 0, (), bytes((0, 1, 2, 255)) * 2),
        "palette-huge-count": bmp(4, 2, 8, 0, pal4, bytes(8), clr_used=0xFFFFFFFF),
        "one-bit-one-colour": bmp(9, 1, 1, 0, pal4[:1], bytes((0xFF, 0xFF, 0, 0))),
        # Places.
        "pixels-past-end": with_field(small24, 10, "<I", 100000),
        "pixels-inside-header": with_field(small24, 10, "<I", 2),
        "header-size-0": with_field(small24, 14, "<I", 0),
        "header-past-end": with_field(small24, 14, "<I", 4000),
        # Not a BMP at all.
        "png": maps.png(8, 8, (0, 255, 255)),
        "empty": b"",
    }


def main():
    corpus = HERE / "corpus"
    corpus.mkdir(exist_ok=True)
    for name, data in seeds().items():
        (corpus / ("seed-" + name)).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
