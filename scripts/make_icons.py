#!/usr/bin/env python3
"""Draws the self-extractor's four icons and writes them as .ico files.

Each icon is drawn from a few geometric shapes in a unit square, rendered with
4x4 supersampling at 16, 32 and 48 pixels, so every size is drawn rather than
scaled. Output: resources/icons/{app,password,warning,volume}.ico, each size
a PNG with an alpha channel (the icon format since Windows Vista; a quarter
of the size of bitmaps, which matters in a stub of at most 150 KB). With
--bitmap the entries are 32-bit bitmaps with a 1-bit mask instead.

    python3 scripts/make_icons.py [--bitmap] [output-dir]
    python3 scripts/make_icons.py --preview /tmp/icons   (PNG strips to look at)
"""
import math
import os
import struct
import sys

SIZES = (16, 32, 48)
SS = 4  # samples per axis and pixel


def rgba(hexstr, a=255):
    return (int(hexstr[0:2], 16), int(hexstr[2:4], 16), int(hexstr[4:6], 16), a)


# --- shapes: each answers "is (x, y) inside?" in unit coordinates, y down ---

def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def polygon(points):
    def inside(x, y):
        n = len(points)
        c = False
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def gradient(top, bottom, y0=0.0, y1=1.0):
    """A vertical colour ramp between two colours."""
    def colour(x, y):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return tuple(int(round(top[i] + (bottom[i] - top[i]) * t)) for i in range(4))
    return colour


def solid(c):
    return lambda x, y: c


# --- the four pictures: lists of (shape, colour-function), painted in order ---

def app_icon():
    # A parcel with an arrow leaving it: "unpack".
    dark = rgba("5a3b1c")
    return [
        (polygon([(0.12, 0.42), (0.50, 0.30), (0.88, 0.42), (0.88, 0.86), (0.50, 0.98), (0.12, 0.86)]), solid(dark)),
        (polygon([(0.16, 0.45), (0.50, 0.35), (0.84, 0.45), (0.50, 0.55)]), solid(rgba("e8c48a"))),
        (polygon([(0.16, 0.47), (0.48, 0.57), (0.48, 0.93), (0.16, 0.83)]), gradient(rgba("d29a52"), rgba("b07a38"), 0.45, 0.95)),
        (polygon([(0.52, 0.57), (0.84, 0.47), (0.84, 0.83), (0.52, 0.93)]), gradient(rgba("c08640"), rgba("95652c"), 0.45, 0.95)),
        (polygon([(0.29, 0.51), (0.35, 0.53), (0.35, 0.88), (0.29, 0.86)]), solid(rgba("f3e2c0"))),
        # arrow pointing up and out of the open box
        (polygon([(0.50, 0.02), (0.78, 0.28), (0.61, 0.28), (0.61, 0.47), (0.39, 0.47), (0.39, 0.28), (0.22, 0.28)]),
         solid(rgba("1d4f91"))),
        (polygon([(0.50, 0.08), (0.70, 0.25), (0.57, 0.25), (0.57, 0.43), (0.43, 0.43), (0.43, 0.25), (0.30, 0.25)]),
         gradient(rgba("5fb0ff"), rgba("2a78d8"), 0.05, 0.45)),
    ]


def password_icon():
    # A padlock.
    return [
        (minus(rect(0.24, 0.04, 0.76, 0.60, 0.26), rect(0.36, 0.16, 0.64, 0.62, 0.14)), solid(rgba("5f6670"))),
        (minus(rect(0.27, 0.07, 0.73, 0.58, 0.23), rect(0.33, 0.13, 0.67, 0.62, 0.17)), gradient(rgba("d7dce2"), rgba("8a939e"))),
        (rect(0.10, 0.40, 0.90, 0.97, 0.08), solid(rgba("7a5410"))),
        (rect(0.13, 0.43, 0.87, 0.94, 0.06), gradient(rgba("ffd75a"), rgba("d99a12"), 0.43, 0.94)),
        (circle(0.50, 0.62, 0.09), solid(rgba("5a3b08"))),
        (polygon([(0.46, 0.63), (0.54, 0.63), (0.57, 0.84), (0.43, 0.84)]), solid(rgba("5a3b08"))),
    ]


def warning_icon():
    # A yellow triangle with an exclamation mark.
    outer = [(0.50, 0.03), (0.98, 0.92), (0.02, 0.92)]
    inner = [(0.50, 0.12), (0.90, 0.87), (0.10, 0.87)]
    return [
        (polygon(outer), solid(rgba("7a5a00"))),
        (polygon(inner), gradient(rgba("ffe46b"), rgba("f5b800"), 0.1, 0.9)),
        (polygon([(0.44, 0.33), (0.56, 0.33), (0.535, 0.64), (0.465, 0.64)]), solid(rgba("222222"))),
        (circle(0.50, 0.75, 0.06), solid(rgba("222222"))),
    ]


def volume_icon():
    # A disk with its label and shutter: "insert the next volume".
    return [
        (polygon([(0.06, 0.04), (0.80, 0.04), (0.96, 0.20), (0.96, 0.96), (0.06, 0.96)]), solid(rgba("1f2f4a"))),
        (polygon([(0.09, 0.07), (0.79, 0.07), (0.93, 0.21), (0.93, 0.93), (0.09, 0.93)]), gradient(rgba("4c74b8"), rgba("2b4a85"))),
        (rect(0.24, 0.07, 0.72, 0.36), solid(rgba("c9ced6"))),
        (rect(0.56, 0.11, 0.66, 0.32), solid(rgba("48505c"))),
        (rect(0.18, 0.50, 0.84, 0.93, 0.02), solid(rgba("f4f1e8"))),
        (rect(0.24, 0.60, 0.78, 0.64), solid(rgba("9aa3b0"))),
        (rect(0.24, 0.72, 0.78, 0.76), solid(rgba("9aa3b0"))),
    ]


def render(layers, size):
    """Returns rows of (r, g, b, a) tuples, top row first."""
    rows = []
    n = SS * SS
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SS):
                for sx in range(SS):
                    x = (px + (sx + 0.5) / SS) / size
                    y = (py + (sy + 0.5) / SS) / size
                    c = None
                    for shape, colour in layers:
                        if shape(x, y):
                            c = colour(x, y)
                    if c is not None:
                        a = c[3] / 255.0
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            a = acc[3] / n
            if a <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) + (int(round(a * 255)),))
        rows.append(row)
    return rows


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_rgba(rows):
    """A PNG with an alpha channel: what the icon entries hold, as the shapes
    are flat colours that compress to a fraction of a bitmap's size."""
    import zlib
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    size = len(rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_ico(path, layers, use_png=True, sizes=SIZES):
    images = [(png_rgba if use_png else dib)(render(layers, s)) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


ICONS = {
    "app.ico": app_icon,
    "password.ico": password_icon,
    "warning.ico": warning_icon,
    "volume.ico": volume_icon,
}


def write_png(path, rows, scale=1, background=(212, 208, 200)):
    """A flattened, enlarged preview (for looking at the icons, not shipped)."""
    import zlib
    height = len(rows) * scale
    width = len(rows[0]) * scale
    raw = bytearray()
    for row in rows:
        line = bytearray([0])
        for r, g, b, a in row:
            px = bytes(int(round((c * a + bg * (255 - a)) / 255)) for c, bg in zip((r, g, b), background))
            line += px * scale
        raw += bytes(line) * scale

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--preview":
        # One strip per size, every icon side by side, enlarged.
        for s in SIZES:
            strip = [[] for _ in range(s)]
            for make in ICONS.values():
                for y, row in enumerate(render(make(), s)):
                    strip[y] += row + [(0, 0, 0, 0)] * 4
            write_png("%s-%d.png" % (sys.argv[2], s), strip, scale=max(1, 192 // s))
        return
    here = os.path.dirname(os.path.abspath(__file__))
    use_png = "--bitmap" not in sys.argv
    args = [a for a in sys.argv[1:] if a != "--bitmap"]
    outdir = args[0] if args else os.path.join(here, "..", "resources", "icons")
    os.makedirs(outdir, exist_ok=True)
    for name, make in ICONS.items():
        # Dialogs draw their icons at the small and the standard size; only
        # the program's own icon is shown larger, by the shell.
        sizes = SIZES if name == "app.ico" else SIZES[:2]
        write_ico(os.path.join(outdir, name), make(), use_png, sizes)
        print(os.path.join(outdir, name))


if __name__ == "__main__":
    main()
