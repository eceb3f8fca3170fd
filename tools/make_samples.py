#!/usr/bin/env python3
"""Writes the bundled sample stacks under data/ (standard library only).

data/phantom/: 96 grey PNG slices of 128 x 128, an ellipsoid shell with a
brighter core and two dense spheres, the kind of stack a CT scan of a small
object gives.
data/torus/: 48 grey PNG slices of 96 x 96, a tilted torus.
data/text/: one slice in each of the two text formats, ring.dat (CT image
text) and ramp.dat (table text), both named *.dat so that the file dialog's
default filter shows them.
"""
import math
import os
import struct
import zlib


def write_png(path, width, height, pixels):
    raw = b"".join(b"\x00" + bytes(pixels[y * width:(y + 1) * width]) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def phantom(root):
    w = h = 128
    n = 96
    os.makedirs(root, exist_ok=True)
    for k in range(n):
        z = (k - n / 2 + 0.5) / (n / 2)
        px = []
        for y in range(h):
            for x in range(w):
                u = (x - w / 2 + 0.5) / (w / 2)
                v = (y - h / 2 + 0.5) / (h / 2)
                r = math.sqrt((u / 0.9) ** 2 + (v / 0.75) ** 2 + (z / 0.85) ** 2)
                value = 10
                if r < 1.0:
                    value = 60 + int(60 * (1 - r))
                    if r > 0.88:
                        value = 200
                for cx, cy, cz, rad, val in ((0.3, -0.2, 0.2, 0.22, 250), (-0.35, 0.25, -0.3, 0.15, 230)):
                    if (u - cx) ** 2 + (v - cy) ** 2 + (z - cz) ** 2 < rad * rad:
                        value = val
                px.append(min(255, value + ((x * 7 + y * 13 + k * 5) % 9)))
        write_png(os.path.join(root, "phantom_%03d.png" % k), w, h, px)


def torus(root):
    w = h = 96
    n = 48
    os.makedirs(root, exist_ok=True)
    tilt = 0.5
    for k in range(n):
        px = []
        for y in range(h):
            for x in range(w):
                X = x - w / 2 + 0.5
                Y = y - h / 2 + 0.5
                Z = (k - n / 2 + 0.5) * 1.5
                Yr = Y * math.cos(tilt) - Z * math.sin(tilt)
                Zr = Y * math.sin(tilt) + Z * math.cos(tilt)
                q = math.sqrt(X * X + Yr * Yr) - 30
                d = math.sqrt(q * q + Zr * Zr)
                px.append(max(0, min(255, int(255 - d * 18))) if d < 14 else 0)
        write_png(os.path.join(root, "torus_%03d.png" % k), w, h, px)


def text_slices(root):
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "ring.dat"), "w") as f:
        f.write("#VELD-CTImg sample ring\n")
        for key, val in (("Range_X0", 0), ("Range_Y0", 0), ("Range_X1", 31), ("Range_Y1", 31)):
            f.write("# %s = %d\n" % (key, val))
        for y in range(32):
            for x in range(32):
                r = math.hypot(x - 15.5, y - 15.5)
                f.write("%d %d %.4g\n" % (x, y, math.exp(-((r - 10) ** 2) / 8.0) * 1000))
    with open(os.path.join(root, "ramp.dat"), "w") as f:
        f.write("## 240301 sample ramp\n")
        f.write("# X-NUM 33\n# Y-NUM 33\n# Format1 : XYV\n")
        for y in range(33):
            for x in range(33):
                f.write("%d,%d,%.3f\n" % (100 + x, 200 + y, x * 0.5 + y * 0.25))


if __name__ == "__main__":
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
    phantom(os.path.join(top, "phantom"))
    torus(os.path.join(top, "torus"))
    text_slices(os.path.join(top, "text"))
