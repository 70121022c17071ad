#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Turns an X window dump (xwd -root, 24 or 32 bits a pixel, ZPixmap) into a PNG picture,
cropped to a rectangle when one is given, or with --crop to what is not the black screen
around the windows.

    xwd-to-png.py INPUT.xwd OUTPUT.png [X Y WIDTH HEIGHT | --crop]
"""
import struct
import sys
import zlib


def read_xwd(path):
    with open(path, "rb") as source:
        data = source.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    ncolors = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        sys.exit(f"{path}: only 24 or 32-bit ZPixmap window dumps are read")
    pixels = data[header_size + 12 * ncolors:]
    return width, height, bits_per_pixel // 8, bytes_per_line, byte_order, pixels, (
        red_mask, green_mask, blue_mask)


def content_box(width, height, step, stride, pixels):
    """The smallest rectangle holding every pixel that is not black."""
    left, top, right, bottom = width, height, -1, -1
    for y in range(height):
        line = pixels[y * stride:y * stride + width * step]
        if not line.strip(b"\0"):
            continue
        for x in range(width):
            if any(line[x * step:(x + 1) * step]):
                left, right = min(left, x), max(right, x)
                top, bottom = min(top, y), max(bottom, y)
    if right < 0:
        return 0, 0, width, height
    return left, top, right - left + 1, bottom - top + 1


def shift_of(mask):
    return (mask & -mask).bit_length() - 1


def main():
    if len(sys.argv) not in (3, 4, 7) or (len(sys.argv) == 4 and sys.argv[3] != "--crop"):
        sys.exit("usage: xwd-to-png.py INPUT.xwd OUTPUT.png [X Y WIDTH HEIGHT | --crop]")
    width, height, step, stride, byte_order, pixels, masks = read_xwd(sys.argv[1])
    if len(sys.argv) == 7:
        x0, y0, w, h = map(int, sys.argv[3:])
    elif len(sys.argv) == 4:
        x0, y0, w, h = content_box(width, height, step, stride, pixels)
    else:
        x0, y0, w, h = 0, 0, width, height
    w, h = min(w, width - x0), min(h, height - y0)
    shifts = [shift_of(m) for m in masks]
    order = "big" if byte_order else "little"
    rows = bytearray()
    for y in range(y0, y0 + h):
        rows.append(0)
        line = pixels[y * stride:(y + 1) * stride]
        for x in range(x0, x0 + w):
            value = int.from_bytes(line[x * step:(x + 1) * step], order)
            rows += bytes((value & m) >> s for m, s in zip(masks, shifts))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
    with open(sys.argv[2], "wb") as output:
        output.write(png)


if __name__ == "__main__":
    main()
