#!/usr/bin/python3
"""Draws the calculator's application icon as PNG files in the freedesktop hicolor sizes.

Run once from calculator/app/resources/; the outputs in icons/ are committed and installed.
Picture: an option's payoff "hockey stick" (yellow) under its smooth value curve (lime) on a navy
rounded tile, like the component's own bitmaps.
"""
import math
import struct
import zlib
from pathlib import Path

SIZES = (16, 24, 32, 48, 64, 128, 256)
NAVY_TOP, NAVY_BOTTOM = (0x27, 0x3C, 0x6B), (0x12, 0x1D, 0x3A)
SILVER = (0xC0, 0xC8, 0xD8)
AXIS = (0x8A, 0x99, 0xB8)
YELLOW = (0xFF, 0xD2, 0x3F)
LIME = (0x7B, 0xE0, 0x7B)
STRIKE, SLOPE, BASE, SMOOTH = 0.5, 1.514, 0.78, 0.12


def payoff(u):
    return BASE - SLOPE * max(u - STRIKE, 0.0), (-SLOPE if u > STRIKE else 0.0)


def value(u):
    z = (u - STRIKE) / SMOOTH
    soft = z + math.log1p(math.exp(-z)) if z > 0 else math.log1p(math.exp(z))
    return BASE - SLOPE * SMOOTH * soft, -SLOPE / (1.0 + math.exp(-z))


def near_curve(u, v, curve, width):
    if not 0.18 <= u <= 0.86:
        return False
    y, dy = curve(u)
    return abs(v - y) / math.sqrt(1.0 + dy * dy) <= width / 2


def in_tile(u, v, margin=0.04, radius=0.2):
    lo, hi = margin, 1.0 - margin
    if not (lo <= u <= hi and lo <= v <= hi):
        return False
    cx = min(max(u, lo + radius), hi - radius)
    cy = min(max(v, lo + radius), hi - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius * radius


def colour_at(u, v, size):
    if not in_tile(u, v):
        return None
    if not in_tile(u, v, margin=0.04 + max(0.03, 1.0 / size), radius=0.17):
        return SILVER
    scale = max(1.0, 24.0 / size)  # thicker strokes where pixels are few
    if near_curve(u, v, value, 0.05 * scale):
        return LIME
    if near_curve(u, v, payoff, 0.055 * scale):
        return YELLOW
    if (abs(u - 0.18) <= 0.015 * scale and 0.18 <= v <= 0.82) or (
            abs(v - 0.82) <= 0.015 * scale and 0.18 <= u <= 0.86):
        return AXIS
    t = v
    return tuple(round(a + (b - a) * t) for a, b in zip(NAVY_TOP, NAVY_BOTTOM))


def render(size):
    samples = 4 if size <= 64 else 3
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter: none
        for x in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) / size,
                                  (y + (sy + 0.5) / samples) / size, size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = samples * samples
            row += bytes((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(bytes(row))
    return png(size, b"".join(rows))


def png(size, raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    for size in SIZES:
        out = Path("icons") / f"{size}x{size}" / "lanternell.png"
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_bytes(render(size))
        print(out)
