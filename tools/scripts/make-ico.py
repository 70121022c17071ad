#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Packs square PNG pictures into one Windows icon file, each kept as PNG (as Windows Vista
and later read icons).

    make-ico.py OUTPUT.ico INPUT.png...
"""
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"{name}: not a PNG picture")
    width, height = struct.unpack(">II", data[16:24])
    if width != height or not 1 <= width <= 256:
        sys.exit(f"{name}: {width}x{height}, an icon's pictures are square, 256 pixels at most")
    return width


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: make-ico.py OUTPUT.ico INPUT.png...")
    pictures = []
    for name in sys.argv[2:]:
        with open(name, "rb") as source:
            data = source.read()
        pictures.append((png_size(data, name), data))
    pictures.sort(key=lambda picture: picture[0])
    header = struct.pack("<HHH", 0, 1, len(pictures))
    offset = len(header) + 16 * len(pictures)
    entries = b""
    for size, data in pictures:
        # A size of 256 is written as 0; 32 bits per pixel, one plane.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as output:
        output.write(header + entries + b"".join(data for _, data in pictures))


if __name__ == "__main__":
    main()
