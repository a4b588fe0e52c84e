#!/usr/bin/python3
"""Writes an 8-bit RGB or RGBA PNG (not interlaced) as a 24-bit BMP, for the resource script:
the banner drawn for the Qt window, shown on Windows by a static control.
Run as: png_to_bmp.py IN.png OUT.bmp
"""
import struct
import sys
import zlib

data = open(sys.argv[1], "rb").read()
chunks, pos = {}, 8
while pos < len(data):
    size, kind = struct.unpack_from(">I4s", data, pos)
    chunks[kind] = chunks.get(kind, b"") + data[pos + 8: pos + 8 + size]
    pos += 12 + size
w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
if depth != 8 or colour not in (2, 6) or interlace:
    sys.exit(f"{sys.argv[1]}: only 8-bit RGB or RGBA, not interlaced")
bpp = 3 if colour == 2 else 4
raw = zlib.decompress(chunks[b"IDAT"])
stride, rows, previous = w * bpp, [], bytearray(w * bpp)
for y in range(h):
    kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1: (y + 1) * (stride + 1)])
    for i in range(stride):
        left = line[i - bpp] if i >= bpp else 0
        up, corner = previous[i], previous[i - bpp] if i >= bpp else 0
        if kind == 1:
            line[i] = (line[i] + left) & 255
        elif kind == 2:
            line[i] = (line[i] + up) & 255
        elif kind == 3:
            line[i] = (line[i] + (left + up) // 2) & 255
        elif kind == 4:
            p = left + up - corner
            pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
            line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
    rows.append(line)
    previous = line
pad = (4 - w * 3 % 4) % 4
pixels = b"".join(bytes(b for x in range(w) for b in reversed(row[x * bpp: x * bpp + 3])) + b"\0" * pad
                  for row in reversed(rows))  # bottom-up, BGR
header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
with open(sys.argv[2], "wb") as out:
    out.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + header + pixels)
