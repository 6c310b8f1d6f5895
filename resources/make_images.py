#!/usr/bin/env python3
"""Writes the plug-in's pictures.

    zev.ico          toolbar icon, encryption off: an open grey padlock
    zev_crypt.ico    toolbar icon, encryption on: a closed gold padlock
    open_folder.bmp  16x16 glyph of the key-file button: an open folder on
                     magenta, the colour the button draws as transparent

Each icon holds an image for 16, 20, 24 and 32 pixels, the small-icon size
at 100, 125, 150 and 200 % display scaling, and 48 for Explorer's larger
views: Windows scales the nearest image otherwise, and a 16-pixel padlock
blown up to 24 is a blur. Every size is drawn from its own measurements
below, in whole pixels, so that straight edges fall on pixel boundaries and
only the round parts (shackle, keyhole head) are smoothed.

Standard library only; the ICO, BMP and PNG bytes are put together by hand.
Run it from anywhere: the files land beside this script, and the icons side
by side, at each size and enlarged, in docs/images/icons.png.

    python3 resources/make_images.py [--preview DIR]

--preview also writes each icon image 8x enlarged as a PNG, for a close look.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 48)

# Per size, in pixels of that size:
#   body       left, top, right, bottom of the lock body (outline included)
#   shackle    centre x, outer and inner radius of the U, thickness of its
#              outline (0: drawn as one solid band), y of the arc's centre
#              closed and open, where the free leg of the open lock ends
#   keyhole    centre x and y of the round head, its radius, the slot's
#              width under the head and at its foot, the foot's y
# Centres lie on pixel boundaries and widths are even, so that the edges of
# the legs, the body and the slot are whole pixels.
MEASURES = {
    16: dict(body=(1, 7, 15, 16), shackle=(8, 4, 2, 0, 6, 4, 5), keyhole=(8, 10, 2.3, 2, 2, 14)),
    20: dict(body=(2, 9, 18, 20), shackle=(10, 5, 3, 0, 8, 5, 6), keyhole=(10, 13, 2.3, 2, 2, 17)),
    24: dict(body=(2, 10, 22, 24), shackle=(12, 7, 3, 1, 9, 7, 8), keyhole=(12, 15, 3, 2, 4, 21)),
    32: dict(body=(3, 14, 29, 31), shackle=(16, 9, 5, 1, 12, 9, 10), keyhole=(16, 20, 3, 2, 4, 27)),
    48: dict(body=(5, 21, 43, 46), shackle=(24, 13, 7, 1, 18, 13, 15), keyhole=(24, 30, 5, 4, 6, 40)),
}

OUTLINE = (34, 34, 34)
STEEL = (200, 204, 210)
STEEL_SOLID = (120, 124, 132)  # the small sizes' shackle, one band without outline
LOOKS = {
    # encryption off: grey body, dark keyhole
    "zev": dict(top=(232, 232, 232), bottom=(150, 150, 150), shade=(112, 112, 112), keyhole=(40, 40, 40)),
    # encryption on: gold body, dark brown keyhole
    "zev_crypt": dict(top=(255, 232, 120), bottom=(226, 160, 16), shade=(168, 112, 0), keyhole=(60, 36, 0)),
}

SAMPLES = 8  # per pixel and axis, for the smoothed round parts


# ---- Shapes: functions of a point, in pixel units --------------------------

def rect(left, top, right, bottom):
    return lambda x, y: left <= x < right and top <= y < bottom


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def shackle_shape(cx, outer, inner, arc_y, left_end, right_end):
    """A U upside down: a half ring above arc_y, legs below it down to
    left_end and right_end."""
    def inside(x, y):
        if y <= arc_y:
            return inner * inner <= (x - cx) ** 2 + (y - arc_y) ** 2 <= outer * outer
        leg = abs(x - cx)
        if not inner <= leg < outer:
            return False
        return y < (left_end if x < cx else right_end)
    return inside


def slot(cx, top, bottom, width_top, width_bottom):
    def inside(x, y):
        if not top <= y < bottom:
            return False
        half = (width_top + (width_bottom - width_top) * (y - top) / (bottom - top)) / 2
        return abs(x - cx) < half
    return inside


def coverage(shape, px, py):
    inside = 0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            if shape(px + (i + 0.5) / SAMPLES, py + (j + 0.5) / SAMPLES):
                inside += 1
    return inside / (SAMPLES * SAMPLES)


# ---- Drawing ------------------------------------------------------------------

def draw_padlock(size, look, closed):
    """RGBA rows, top first: a list of rows of (r, g, b, a)."""
    m = MEASURES[size]
    left, top, right, bottom = m["body"]
    cx, outer, inner, rim, arc_closed, arc_open, free_end = m["shackle"]
    kx, ky, kr, slot_top_width, slot_foot_width, slot_foot = m["keyhole"]
    colours = LOOKS[look]

    layers = []
    arc_y = arc_closed if closed else arc_open
    right_end = top + 1 if closed else free_end
    if rim:
        layers.append((shackle_shape(cx, outer, inner, arc_y, top + 1, right_end), OUTLINE))
        layers.append((shackle_shape(cx, outer - rim, inner + rim, arc_y, top + 1, right_end - rim), STEEL))
    else:
        layers.append((shackle_shape(cx, outer, inner, arc_y, top + 1, right_end), STEEL_SOLID))
    layers.append((rect(left, top, right, bottom), OUTLINE))
    # The body's face: lighter at the top, a shaded last row, one row at a time.
    inner_rows = range(top + 1, bottom - 1)
    for row in inner_rows:
        if row == bottom - 2:
            colour = colours["shade"]
        else:
            t = (row - (top + 1)) / max(1, len(inner_rows) - 2)
            colour = tuple(round(a + (b - a) * t) for a, b in zip(colours["top"], colours["bottom"]))
        layers.append((rect(left + 1, row, right - 1, row + 1), colour))
    layers.append((disc(kx, ky, kr), colours["keyhole"]))
    layers.append((slot(kx, ky, slot_foot, slot_top_width, slot_foot_width), colours["keyhole"]))

    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0  # premultiplied
            for shape, colour in layers:
                c = coverage(shape, px, py)
                if c == 0:
                    continue
                r = colour[0] * c + r * (1 - c)
                g = colour[1] * c + g * (1 - c)
                b = colour[2] * c + b * (1 - c)
                a = c + a * (1 - c)
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
        rows.append(row)
    return rows


# ---- Files -------------------------------------------------------------------

def dib_bytes(rows):
    """One ICO image: a 32-bit DIB with alpha, plus the 1-bit AND mask that
    older drawing code uses for transparency."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytearray()
    stride = (size + 31) // 32 * 4
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico_bytes(images):
    """An ICO file holding the images, smallest first."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for rows in images:
        image = dib_bytes(rows)
        size = len(rows)
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return directory + entries + data


def png_bytes(rows):
    """RGBA rows as a PNG."""
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def enlarge(rows, scale):
    return [[pixel for pixel in row for _ in range(scale)] for row in rows for _ in range(scale)]


def sheet(icons, background=(240, 240, 240, 255), gap=12, scale=3):
    """Each icon a row: its images at their own size, then the same enlarged
    with every pixel a square, so that the pixel work can be seen."""
    cells = [(rows, 1) for rows in icons[0]] + [(rows, scale) for rows in icons[0]]
    width = gap + sum(len(rows) * s + gap for rows, s in cells)
    line = gap + max(len(rows) * s for rows, s in cells)
    out = [[background] * width for _ in range(line * len(icons) + gap)]
    for i, images in enumerate(icons):
        x = gap
        for rows, s in [(rows, 1) for rows in images] + [(rows, scale) for rows in images]:
            big = enlarge(rows, s)
            y0 = gap + i * line + (line - gap - len(big))  # bottoms aligned
            for dy, row in enumerate(big):
                for dx, (r, g, b, a) in enumerate(row):
                    br, bg, bb, _ = out[y0 + dy][x + dx]
                    out[y0 + dy][x + dx] = (round(r * a / 255 + br * (255 - a) / 255),
                                            round(g * a / 255 + bg * (255 - a) / 255),
                                            round(b * a / 255 + bb * (255 - a) / 255), 255)
            x += len(big) + gap
    return out


# ---- The folder glyph --------------------------------------------------------

FOLDER_PALETTE = {
    ".": None,                 # transparent
    "K": (96, 64, 0),          # folder outline
    "t": (232, 200, 96),       # back of the folder, tab
    "T": (248, 224, 136),      # back of the folder, lit edge
    "f": (255, 236, 160),      # front flap
    "F": (255, 250, 220),      # front flap, lit edge
}

OPEN_FOLDER = [
    "................",
    "................",
    "................",
    ".KKKK...........",
    "KTttTK..........",
    "KTttttKKKKKKK...",
    "KTtttttttttttK..",
    "KTttKKKKKKKKKKKK",
    "KTtKFFFFFFFFFFFK",
    "KTtKffffffffffK.",
    "KTKfffffffffffK.",
    "KTKffffffffffK..",
    "KKfffffffffffK..",
    "KKffffffffffK...",
    "KKKKKKKKKKKKK...",
    "................",
]

MAGENTA = (255, 0, 255)


def bmp_bytes(rows, background):
    """A 24-bit BMP; transparent pixels take the background colour."""
    stride = (16 * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for c in row:
            r, g, b = FOLDER_PALETTE[c] or background
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    filehdr = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return filehdr + info + bytes(pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    if len(OPEN_FOLDER) != 16 or any(len(r) != 16 or set(r) - set(FOLDER_PALETTE) for r in OPEN_FOLDER):
        raise SystemExit("open_folder: the drawing must be 16 rows of 16 known pixels")
    icons = {
        "zev": [draw_padlock(size, "zev", closed=False) for size in SIZES],
        "zev_crypt": [draw_padlock(size, "zev_crypt", closed=True) for size in SIZES],
    }
    for name, images in icons.items():
        with open(os.path.join(here, name + ".ico"), "wb") as f:
            f.write(ico_bytes(images))
    with open(os.path.join(here, "open_folder.bmp"), "wb") as f:
        f.write(bmp_bytes(OPEN_FOLDER, MAGENTA))
    images_dir = os.path.join(here, os.pardir, "docs", "images")
    os.makedirs(images_dir, exist_ok=True)
    with open(os.path.join(images_dir, "icons.png"), "wb") as f:
        f.write(png_bytes(sheet([icons["zev"], icons["zev_crypt"]])))
    if len(sys.argv) == 3 and sys.argv[1] == "--preview":
        os.makedirs(sys.argv[2], exist_ok=True)
        for name, images in icons.items():
            for rows in images:
                with open(os.path.join(sys.argv[2], f"{name}-{len(rows)}.png"), "wb") as f:
                    f.write(png_bytes(enlarge(rows, 8)))


if __name__ == "__main__":
    main()
