#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Cuts a window out of Xvfb's frame buffer (an XWD file, 32 bits a pixel)
into a PNG, so the screenshots need no ImageMagick.
usage: xwd-to-png.py FRAMEBUFFER X Y WIDTH HEIGHT OUTPUT"""
import struct, sys, zlib
fb, x, y, w, h, out = sys.argv[1], *map(int, sys.argv[2:6]), sys.argv[6]
data = open(fb, "rb").read()
header = struct.unpack(">25I", data[:100])
size, width, height, order, bpp, line, ncolors = header[0], header[4], header[5], header[7], header[11], header[12], header[19]
assert bpp == 32, "a 24-bit screen is 32 bits a pixel"
pixels = data[size + 12 * ncolors:]
rows = []
for row in range(y, min(y + h, height)):
    start = row * line
    raw = pixels[start + 4 * x:start + 4 * min(x + w, width)]
    rgb = bytearray()
    for i in range(0, len(raw), 4):
        b, g, r = (raw[i], raw[i + 1], raw[i + 2]) if order == 0 else (raw[i + 3], raw[i + 2], raw[i + 1])
        rgb += bytes((r, g, b))
    rows.append(b"\0" + bytes(rgb))
cw, ch = min(x + w, width) - x, len(rows)
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", cw, ch, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(out, "wb").write(png)
