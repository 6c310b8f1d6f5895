#!/usr/bin/env python3
"""Writes the plug-in's pictures from the pixel drawings below.

    zev.ico          16x16 toolbar icon, encryption off: an open grey padlock
    zev_crypt.ico    16x16 toolbar icon, encryption on: a closed gold padlock
    open_folder.bmp  16x16 glyph of the key-file button: an open folder on
                     magenta, the colour the button draws as transparent

Standard library only; the ICO and BMP bytes are put together by hand.
Run it from anywhere: the files land beside this script.

    python3 resources/make_images.py [--preview DIR]

--preview also writes each picture as an 8x enlarged PPM, for a quick look.
"""
import os
import struct
import sys

# One character per pixel, top row first.
PALETTE = {
    ".": None,                 # transparent
    "o": (34, 34, 34),         # outline
    "m": (196, 200, 206),      # shackle steel
    "d": (120, 124, 130),      # shackle steel, shaded side
    # open lock body: greys
    "H": (214, 214, 214),
    "g": (166, 166, 166),
    "S": (112, 112, 112),
    # closed lock body: gold
    "Y": (255, 226, 96),
    "G": (232, 176, 24),
    "B": (168, 112, 0),
    "k": (60, 36, 0),          # keyhole
    # folder
    "K": (96, 64, 0),          # folder outline
    "t": (232, 200, 96),       # back of the folder, tab
    "T": (248, 224, 136),      # back of the folder, lit edge
    "f": (255, 236, 160),      # front flap
    "F": (255, 250, 220),      # front flap, lit edge
}

# Encryption off: the shackle is lifted and its right leg stands free.
ZEV = [
    "....oooooooo....",
    "...ommmmmmmdo...",
    "...omoooooodo...",
    "...omo....odo...",
    "...omo....odo...",
    "...omo....ooo...",
    "...omo..........",
    ".oooooooooooooo.",
    ".oHHHHHHHHHHHHo.",
    ".oggggggggggggo.",
    ".ogggggoogggggo.",
    ".oggggooooggggo.",
    ".ogggggoogggggo.",
    ".oSSSSSSSSSSSSo.",
    ".oooooooooooooo.",
    "................",
]

# Encryption on: the shackle is closed into a gold body.
ZEV_CRYPT = [
    "................",
    "....oooooooo....",
    "...ommmmmmmdo...",
    "...omoooooodo...",
    "...omo....odo...",
    "...omo....odo...",
    "...omo....odo...",
    ".oooooooooooooo.",
    ".oYYYYYYYYYYYYo.",
    ".oGGGGGGGGGGGGo.",
    ".oGGGGGkkGGGGGo.",
    ".oGGGGkkkkGGGGo.",
    ".oGGGGGkkGGGGGo.",
    ".oBBBBBBBBBBBBo.",
    ".oooooooooooooo.",
    "................",
]

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


def check(name, rows):
    if len(rows) != 16 or any(len(r) != 16 for r in rows):
        raise SystemExit(f"{name}: the drawing must be 16 rows of 16 pixels")
    for r in rows:
        for c in r:
            if c not in PALETTE:
                raise SystemExit(f"{name}: unknown pixel {c!r}")


def ico_bytes(rows):
    """A single-image ICO: 16x16, 32 bits per pixel with alpha, plus the
    1-bit AND mask that older drawing code uses for transparency."""
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for c in row:
            rgb = PALETTE[c]
            if rgb is None:
                xor += bytes((0, 0, 0, 0))
            else:
                r, g, b = rgb
                xor += bytes((b, g, r, 255))
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, c in enumerate(row):
            if PALETTE[c] is None:
                bits |= 1 << (15 - x)
        mask += struct.pack(">H", bits) + b"\0\0"  # rows padded to 32 bits
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


def bmp_bytes(rows, background):
    """A 24-bit BMP; transparent pixels take the background colour."""
    stride = (16 * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for c in row:
            r, g, b = PALETTE[c] or background
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    filehdr = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return filehdr + info + bytes(pixels)


def ppm_preview(rows, scale=8, background=(240, 240, 240)):
    out = bytearray(f"P6 {16 * scale} {16 * scale} 255\n".encode())
    for row in rows:
        line = bytearray()
        for c in row:
            line += bytes(PALETTE[c] or background) * scale
        out += bytes(line) * scale
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    pictures = {"zev": ZEV, "zev_crypt": ZEV_CRYPT, "open_folder": OPEN_FOLDER}
    for name, rows in pictures.items():
        check(name, rows)
    with open(os.path.join(here, "zev.ico"), "wb") as f:
        f.write(ico_bytes(ZEV))
    with open(os.path.join(here, "zev_crypt.ico"), "wb") as f:
        f.write(ico_bytes(ZEV_CRYPT))
    with open(os.path.join(here, "open_folder.bmp"), "wb") as f:
        f.write(bmp_bytes(OPEN_FOLDER, MAGENTA))
    if len(sys.argv) == 3 and sys.argv[1] == "--preview":
        os.makedirs(sys.argv[2], exist_ok=True)
        for name, rows in pictures.items():
            with open(os.path.join(sys.argv[2], name + ".ppm"), "wb") as f:
                f.write(ppm_preview(rows))


if __name__ == "__main__":
    main()
