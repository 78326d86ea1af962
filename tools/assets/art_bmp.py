"""Plain Windows BMP writing and header reading for the artwork generator.

Writes only the two kinds the game loads: 24-bit and 8-bit palette, both with
the 40-byte BITMAPINFOHEADER, bottom-up rows and no compression.
"""

import struct

import numpy as np

INFO_HEADER_SIZE = 40
FILE_HEADER_SIZE = 14
PIXELS_PER_METRE = 2835  # 72 dpi, what most paint programs write


def _row_stride(width, bits):
    return ((width * bits + 31) // 32) * 4


def _headers(width, height, bits, colours, image_size):
    offset = FILE_HEADER_SIZE + INFO_HEADER_SIZE + 4 * colours
    file_header = struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    info_header = struct.pack(
        "<IiiHHIIiiII",
        INFO_HEADER_SIZE, width, height,  # positive height: rows stored bottom-up
        1, bits, 0, image_size,           # one plane, BI_RGB
        PIXELS_PER_METRE, PIXELS_PER_METRE, colours, colours)
    return file_header + info_header


def bmp24_bytes(rgb):
    """Encodes an (h, w, 3) uint8 RGB array."""
    rgb = np.asarray(rgb, dtype=np.uint8)
    height, width, _ = rgb.shape
    stride = _row_stride(width, 24)
    rows = np.zeros((height, stride), dtype=np.uint8)
    rows[:, :width * 3] = rgb[::-1, :, ::-1].reshape(height, width * 3)  # bottom-up, BGR
    return _headers(width, height, 24, 0, stride * height) + rows.tobytes()


def bmp8_bytes(indices, palette):
    """Encodes an (h, w) array of palette indices with a palette of (r, g, b) tuples."""
    indices = np.asarray(indices, dtype=np.uint8)
    height, width = indices.shape
    if int(indices.max()) >= len(palette):
        raise ValueError("pixel index outside the palette")
    stride = _row_stride(width, 8)
    rows = np.zeros((height, stride), dtype=np.uint8)
    rows[:, :width] = indices[::-1]
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return _headers(width, height, 8, len(palette), stride * height) + table + rows.tobytes()


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read_header(data):
    """The fields of a BMP's file and info headers, as a dict."""
    magic, size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    (info_size, width, height, planes, bits, compression, image_size,
     _, _, used, important) = struct.unpack_from("<IiiHHIIiiII", data, FILE_HEADER_SIZE)
    return dict(magic=magic, size=size, offset=offset, info_size=info_size, width=width,
                height=height, planes=planes, bits=bits, compression=compression,
                image_size=image_size, colours_used=used, colours_important=important)


def decode(data):
    """Decodes a BMP written by this module: RGB array for 24-bit, (indices, palette) for 8-bit."""
    h = read_header(data)
    width, height, bits = h["width"], h["height"], h["bits"]
    stride = _row_stride(width, bits)
    body = np.frombuffer(data, dtype=np.uint8, count=stride * height, offset=h["offset"])
    rows = body.reshape(height, stride)[::-1]
    if bits == 24:
        return rows[:, :width * 3].reshape(height, width, 3)[:, :, ::-1].copy()
    start = FILE_HEADER_SIZE + INFO_HEADER_SIZE
    palette = [tuple(data[start + 4 * i + 2 - c] for c in range(3)) for i in range(h["colours_used"])]
    return rows[:, :width].copy(), palette
