#!/usr/bin/python3
"""Draws the control's bitmaps and icon as 16-colour BMP/ICO files.

Run once with Debian's /usr/bin/python3 from component/resources/; the outputs are committed and
the build embeds them. Pictures: an option payoff "hockey stick" (yellow) under a smooth option
value curve (lime) on a navy chart, in a raised silver tile.
"""
import math
import struct
import sys
from pathlib import Path

# The 16 colours of the platform's default palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, TEAL, SILVER, GRAY, RED, LIME, YELLOW, WHITE = 0, 4, 6, 7, 8, 9, 10, 11, 15


def canvas(size, fill):
    return [[fill] * size for _ in range(size)]


def line(img, x0, y0, x1, y1, colour):
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    while True:
        img[y0][x0] = colour
        if x0 == x1 and y0 == y1:
            return
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def polyline(img, points, colour):
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        line(img, x0, y0, x1, y1, colour)


def tile(size, put_side):
    """A raised tile holding a payoff chart; put_side mirrors it (the put's payoff)."""
    img = canvas(size, SILVER)
    last = size - 1
    for i in range(size):
        img[0][i] = img[i][0] = WHITE
        img[last][i] = img[i][last] = GRAY
    inset = 2 if size <= 16 else 3
    lo, hi = inset, last - inset
    for y in range(lo, hi + 1):
        for x in range(lo, hi + 1):
            img[y][x] = NAVY
    if size > 16:  # a faint grid only where there is room for it
        for k in range(lo + 6, hi, 6):
            for t in range(lo + 1, hi):
                img[k][t] = img[t][k] = TEAL
    line(img, lo, hi, hi, hi, WHITE)   # axes
    line(img, lo, lo, lo, hi, WHITE)
    width = hi - lo - 1
    strike = lo + 1 + width // 2

    def mirror(x):
        return (lo + 1 + hi - 1 - x) if put_side else x

    payoff = []
    value = []
    for x in range(lo + 1, hi):
        intrinsic = max(x - strike, 0)
        payoff.append((mirror(x), hi - 1 - intrinsic))
        # A smooth curve above the payoff, like an option value before expiry.
        u = (x - strike) / (width / 4.0)
        smooth = (width / 4.0) * (u + math.sqrt(u * u + 3.0)) / 2.0
        value.append((mirror(x), max(lo + 1, hi - 1 - int(round(smooth)))))
    polyline(img, value, LIME)
    polyline(img, payoff, YELLOW)
    img[hi][mirror(strike)] = RED  # the strike on the axis
    return img


def bmp_bits(img):
    """4-bit rows, bottom-up, each padded to a multiple of 4 bytes."""
    size = len(img)
    row_bytes = ((size * 4 + 31) // 32) * 4
    out = bytearray()
    for row in reversed(img):
        packed = bytearray()
        for i in range(0, size, 2):
            packed.append((row[i] << 4) | row[i + 1])
        out += packed + bytes(row_bytes - len(packed))
    return bytes(out)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def info_header(width, height, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_bytes, 2835, 2835, 16, 16)


def bmp_file(img):
    bits = bmp_bits(img)
    size = len(img)
    offset = 14 + 40 + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + info_header(size, size, len(bits)) + palette_bytes() + bits


def icon_image(img):
    size = len(img)
    xor = bmp_bits(img)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)  # every pixel opaque
    return info_header(size, size * 2, len(xor) + len(and_mask)) + palette_bytes() + xor + and_mask


def ico_file(images):
    entries = b""
    data = b""
    offset = 6 + 16 * len(images)
    for img in images:
        blob = icon_image(img)
        size = len(img)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset + len(data))
        data += blob
    return struct.pack("<HHH", 0, 1, len(images)) + entries + data


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent
    face = tile(32, put_side=False)
    (out / "bitmap202.bmp").write_bytes(bmp_file(face))
    (out / "bitmap201.bmp").write_bytes(bmp_file(tile(32, put_side=True)))
    small = tile(16, put_side=False)
    (out / "bitmap207.bmp").write_bytes(bmp_file(small))
    (out / "icon206.ico").write_bytes(ico_file([face, small]))


if __name__ == "__main__":
    main()
