#!/usr/bin/env python3
"""Draws cabrun.ico: a blue package box with an orange arrow rising out of it.

The shapes are given in a unit square and sampled 4 x 4 per pixel, so every size of the
icon comes from the same drawing. Each size is stored as a PNG image (read by Windows Vista
and later), a fifteenth of the size of the same image as a bitmap: every package carries it.
Run: python3 make_icon.py cabrun.ico
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48)
SAMPLES = 4

# Painted in order; later shapes cover earlier ones. Colours are (r, g, b).
def box_body(x, y):
    return 0.14 <= x <= 0.86 and 0.50 <= y <= 0.92

def box_edge(x, y):
    inner = 0.19 <= x <= 0.81 and 0.55 <= y <= 0.87
    return box_body(x, y) and not inner

def lid(x, y):
    return 0.08 <= x <= 0.92 and 0.42 <= y <= 0.54

def label(x, y):
    return 0.32 <= x <= 0.68 and 0.66 <= y <= 0.78

def arrow_shaft(x, y):
    return 0.41 <= x <= 0.59 and 0.22 <= y <= 0.62

def arrow_head(x, y):
    # Triangle with its tip at (0.5, 0.04) and its base from x 0.24 to 0.76 at y 0.34.
    if not 0.04 <= y <= 0.34:
        return False
    half = 0.26 * (y - 0.04) / 0.30
    return abs(x - 0.5) <= half

SHAPES = (
    (box_body, (47, 110, 142)),
    (box_edge, (30, 74, 98)),
    (lid, (74, 144, 184)),
    (label, (236, 240, 241)),
    (arrow_shaft, (243, 156, 18)),
    (arrow_head, (243, 156, 18)),
)

def pixel(px, py, size):
    r = g = b = a = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            colour = None
            for shape, fill in SHAPES:
                if shape(x, y):
                    colour = fill
            if colour:
                r += colour[0]
                g += colour[1]
                b += colour[2]
                a += 1
    if a == 0:
        return (0, 0, 0, 0)
    return (round(r / a), round(g / a), round(b / a), round(255 * a / SAMPLES ** 2))

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

def image(size):
    """One icon image: a PNG of 8-bit RGBA rows, unfiltered (the flat shapes pack best so)."""
    rows = b"".join(
        b"\0" + b"".join(bytes(pixel(px, py, size)) for px in range(size)) for py in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(rows, 9)) +
            png_chunk(b"IEND", b""))

def main(path):
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "cabrun.ico")
