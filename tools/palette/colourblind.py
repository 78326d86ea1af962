#!/usr/bin/python3
"""How far apart the sides' colours stay for colour-blind players: the smallest CIE76 difference
between two of the four, as simulated for protanopia, deuteranopia and tritanopia (Machado, Oliveira
and Fernandes 2009, severity 1, in linear RGB), for the game's colours and for the colour-blind
palette of app/palette.cpp.

Usage: tools/palette/colourblind.py [ROOT]   Exits 1 when the palette's closest pair is under 30,
77 without numpy (Debian: python3-numpy).
"""
import itertools
import os
import re
import sys

try:
    import numpy as np
except ImportError:
    print("skipped: no numpy")
    sys.exit(77)

VISIONS = {
    "protanopia": [[0.152286, 1.052583, -0.204868], [0.114503, 0.786281, 0.099216], [-0.003882, -0.048116, 1.051998]],
    "deuteranopia": [[0.367322, 0.860646, -0.227968], [0.280085, 0.672501, 0.047413], [-0.011820, 0.042940, 0.968881]],
    "tritanopia": [[1.255528, -0.076749, -0.178779], [-0.078411, 0.930809, 0.147602], [0.004733, 0.691367, 0.303900]],
}
GAME = [(255, 0, 0), (0, 0, 255), (255, 255, 0), (0, 255, 0)]
LEAST = 30.0


def lab(rgb, vision):
    c = np.array(rgb) / 255.0
    linear = np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)
    linear = np.clip(np.array(vision) @ linear, 0, 1)
    xyz = np.array([[0.4124, 0.3576, 0.1805], [0.2126, 0.7152, 0.0722], [0.0193, 0.1192, 0.9505]]) @ linear
    t = xyz / np.array([0.9505, 1.0, 1.089])
    f = np.where(t > 216 / 24389, np.cbrt(t), (24389 / 27 * t + 16) / 116)
    return np.array([116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])])


def closest(colours, vision):
    return min(np.linalg.norm(lab(a, vision) - lab(b, vision)) for a, b in itertools.combinations(colours, 2))


def palette(root):
    """The four colours of kPaletteColours, 0x00BBGGRR, as (r, g, b)."""
    with open(os.path.join(root, "app", "palette.cpp")) as f:
        body = re.search(r"kPaletteColours\[4\] = \{([^}]*)\}", f.read()).group(1)
    values = [int(v.replace("'", ""), 16) for v in re.findall(r"0x([0-9A-Fa-f']+)u", body)]
    return [(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF) for v in values]


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    ours = palette(root)
    worst = LEAST
    print(f"{'':14} {'game':>6} {'palette':>8}")
    for name, vision in VISIONS.items():
        mine = closest(ours, vision)
        worst = min(worst, mine)
        print(f"{name:14} {closest(GAME, vision):6.1f} {mine:8.1f}")
    return 0 if len(ours) == 4 and worst >= LEAST else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
