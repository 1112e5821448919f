#!/usr/bin/env python3
"""Draws the program's tomato icon into icons/tomato-<size>.png for sizes 512 down to 16.

Standard library only (zlib for PNG), deterministic. Every size is drawn from the shapes directly,
with coverage taken from signed distances, so small sizes stay crisp instead of being scaled down.
"""

import math
import os
import struct
import sys
import zlib

SIZES = (512, 256, 128, 64, 48, 32, 16)


def png(width: int, height: int, rgba: bytes) -> bytes:
    """An 8-bit RGBA PNG of the given rows (no filter on any row)."""
    def chunk(tag: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    stride = width * 4
    raw = b"".join(b"\0" + rgba[y * stride:(y + 1) * stride] for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ellipse_sd(x, y, cx, cy, rx, ry):
    """Approximate signed distance to an ellipse (negative inside), in the unit of the coordinates."""
    dx, dy = (x - cx) / rx, (y - cy) / ry
    return (math.hypot(dx, dy) - 1.0) * min(rx, ry)


def body_sd(x, y):
    # A tomato is a little wider than tall, with a soft dip where the stem sits.
    d = ellipse_sd(x, y, 0.5, 0.56, 0.42, 0.37)
    dip = 0.05 * math.exp(-((x - 0.5) / 0.09) ** 2) * math.exp(-((y - 0.2) / 0.08) ** 2)
    return d + dip


def calyx_sd(x, y):
    # Five pointed sepals seen from a little above: a star squashed vertically.
    dx, dy = x - 0.5, (y - 0.235) * 2.2
    r = math.hypot(dx, dy)
    a = math.atan2(dy, dx) + math.pi / 2
    spike = abs(math.cos(2.5 * a)) ** 3.0
    reach = 0.05 + 0.17 * spike
    return (r - reach) / 2.2


def stem_sd(x, y):
    # A short stem, a rounded rectangle leaning slightly to the right.
    sx = x - 0.5 - (0.2 - y) * 0.25
    qx, qy = abs(sx) - 0.018, abs(y - 0.15) - 0.06
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - 0.008


def blend(dst, src, alpha):
    """Source-over of one straight-alpha colour onto another."""
    if alpha <= 0.0:
        return dst
    dr, dg, db, da = dst
    sr, sg, sb = src
    out_a = alpha + da * (1.0 - alpha)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = lambda s, d: (s * alpha + d * da * (1.0 - alpha)) / out_a
    return (mix(sr, dr), mix(sg, dg), mix(sb, db), out_a)


def coverage(sd, pixel):
    """Area of a pixel covered by a shape, from the signed distance at the pixel's centre."""
    return max(0.0, min(1.0, 0.5 - sd / pixel))


def shade_body(x, y):
    # Lit from the upper left: a bright core fading to a deep red rim.
    lx, ly = x - 0.36, y - 0.42
    t = min(1.0, math.hypot(lx, ly) / 0.55)
    r = 0.93 - 0.25 * t
    g = 0.22 - 0.14 * t
    b = 0.16 - 0.10 * t
    return (r, g, b)


def draw(size: int) -> bytes:
    pixel = 1.0 / size
    out = bytearray()
    for j in range(size):
        y = (j + 0.5) * pixel
        for i in range(size):
            x = (i + 0.5) * pixel
            c = (0.0, 0.0, 0.0, 0.0)
            body = body_sd(x, y)
            c = blend(c, shade_body(x, y), coverage(body, pixel))
            # The shine on the upper left, only inside the body.
            shine = ellipse_sd(x, y, 0.33, 0.43, 0.075, 0.11)
            soft = max(0.0, min(1.0, -shine / 0.05))  # a soft edge, wider than one pixel
            c = blend(c, (1.0, 0.93, 0.9), 0.5 * soft * coverage(body, pixel))
            c = blend(c, (0.16, 0.52, 0.15), coverage(calyx_sd(x, y), pixel))
            c = blend(c, (0.24, 0.42, 0.12), coverage(stem_sd(x, y), pixel))
            r, g, b, a = c
            out += bytes((round(r * 255), round(g * 255), round(b * 255), round(a * 255)))
    return png(size, size, bytes(out))


def main() -> int:
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = os.path.join(here, "icons")
    os.makedirs(out_dir, exist_ok=True)
    for size in SIZES:
        data = draw(size)
        with open(os.path.join(out_dir, f"tomato-{size}.png"), "wb") as f:
            f.write(data)
        print(f"tomato-{size}.png: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
