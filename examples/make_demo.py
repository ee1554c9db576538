#!/usr/bin/env python3
"""Writes the demo project examples/demo: a 3 x 3 grid of 200 x 200 sectors
of 24-bit PNG heights and the project coordinates file.

The terrain is one 600 x 600 height field cut into nine sectors. Heights are
metres; one pixel step counts as one metre of ground, so the relief is that
of a steep alpine slope seen close up: a valley floor near 1035 m running
west to east with a meander, a ridge on either side of it, and a peak of
about 1480 m just south of the centre sector's northern edge, whose shadow
falls on the sectors north, north-west and north-east of it in winter. A
west-facing rock wall on the south-east ridge gives the sharpest single rise
of the project.

Pixel rows grow south (row 0 is the northern edge); sector rows grow north,
so sector 0101 is the south-west corner and 0303 the north-east one.

Deterministic: only integer hashing and plain arithmetic, no random state.
Usage: python3 examples/make_demo.py [OUTDIR]   (default: examples/demo)
"""

import math
import os
import struct
import sys
import zlib

SECTOR = 200
GRID = 3
SIZE = SECTOR * GRID

# Chamonix-Mont-Blanc, a valley town below steep mountain faces.
LONGITUDE = 6.8694
LATITUDE = 45.9237

BASE = 1035.0


def hash01(ix, iy, seed):
    """Integer hash of a lattice point to [0, 1)."""
    h = (ix * 374761393 + iy * 668265263 + seed * 2246822519) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    h ^= h >> 16
    return h / 4294967296.0


def value_noise(x, y, cell, seed):
    """Smooth noise in [0, 1): bilinear blend of hashed lattice values."""
    gx, gy = x / cell, y / cell
    ix, iy = math.floor(gx), math.floor(gy)
    fx, fy = gx - ix, gy - iy
    sx, sy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    a = hash01(ix, iy, seed)
    b = hash01(ix + 1, iy, seed)
    c = hash01(ix, iy + 1, seed)
    d = hash01(ix + 1, iy + 1, seed)
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy


def height(x, y):
    """Height in metres at world pixel (x, y); x grows east, y grows south."""
    # Valley floor: a meandering line across the southern half.
    centre = 400.0 + 30.0 * math.sin(x / 85.0) - 0.15 * x
    d = y - centre  # > 0 south of the valley line
    h = BASE + 0.35 * abs(d)

    # A ridge on either side of the valley, crests varying along their length.
    north_crest = 90.0 + 25.0 * math.sin(x / 60.0 + 1.3)
    south_crest = 70.0 + 20.0 * math.sin(x / 45.0)
    h += north_crest * math.exp(-(((d + 190.0) / 45.0) ** 2))
    h += south_crest * math.exp(-(((d - 150.0) / 35.0) ** 2))

    # The peak, steep near its summit.
    px, py = 300.0, 225.0
    r = math.hypot(x - px, y - py)
    if r < 115.0:
        h += 430.0 * (1.0 - r / 115.0) ** 2

    # A rock wall on the south-east ridge: the ground east of it stands higher.
    if x >= 470 and 470 <= y <= 560:
        h += 16.0 * math.sin(math.pi * (y - 470) / 90.0)

    # Surface texture.
    h += 8.0 * value_noise(x, y, 23.0, 1) + 3.0 * value_noise(x, y, 7.0, 2)
    return int(round(h))


def png_rgb(width, height_px, rows):
    """An 8-bit RGB PNG from rows of (r, g, b) byte triples."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter type None
        raw.extend(row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height_px, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "demo")
    os.makedirs(out, exist_ok=True)

    field = [[height(x, y) for x in range(SIZE)] for y in range(SIZE)]
    for col in range(1, GRID + 1):
        for row in range(1, GRID + 1):
            x0 = (col - 1) * SECTOR
            y0 = (GRID - row) * SECTOR  # sector row 1 is the southern one
            rows = []
            for y in range(y0, y0 + SECTOR):
                line = bytearray()
                for x in range(x0, x0 + SECTOR):
                    v = field[y][x]
                    line.extend((v >> 16 & 255, v >> 8 & 255, v & 255))
                rows.append(line)
            name = "%02d%02d.png" % (col, row)
            with open(os.path.join(out, name), "wb") as f:
                f.write(png_rgb(SECTOR, SECTOR, rows))

    with open(os.path.join(out, "pr_data.vtd"), "wb") as f:
        f.write(struct.pack("<dd", LONGITUDE, LATITUDE))

    flat = [v for line in field for v in line]
    print("wrote %d sectors of %dx%d to %s; heights %d..%d m" %
          (GRID * GRID, SECTOR, SECTOR, out, min(flat), max(flat)))


if __name__ == "__main__":
    main()
