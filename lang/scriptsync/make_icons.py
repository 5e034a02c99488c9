#!/usr/bin/env python3
"""Draws the icons of the script-hosted synchronizers (32x32, 32-bit) beside this script: a script
page with a mark of the kind of item. Run it again after changing a drawing."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 32
PAGE, EDGE, LINE = (250, 250, 245, 255), (60, 60, 70, 255), (150, 150, 160, 255)


def blank():
    return [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]


def box(pixels, x, y, w, h, colour):
    for row in range(y, y + h):
        for col in range(x, x + w):
            pixels[row][col] = colour


def page(pixels):
    box(pixels, 3, 2, 20, 28, EDGE)
    box(pixels, 4, 3, 18, 26, PAGE)
    for row in (7, 11, 15, 19, 23):
        box(pixels, 7, row, 12, 1, LINE)


def mark(pixels, colour, shape):
    box(pixels, 15, 15, 15, 15, EDGE)
    box(pixels, 16, 16, 13, 13, colour)
    white = (255, 255, 255, 255)
    if shape == "person":
        box(pixels, 20, 18, 5, 4, white)
        box(pixels, 18, 23, 9, 4, white)
    elif shape == "check":
        for i in range(4):
            box(pixels, 18 + i, 21 + i, 2, 2, white)
        for i in range(6):
            box(pixels, 21 + i, 24 - i, 2, 2, white)
    elif shape == "letter":
        box(pixels, 18, 19, 9, 7, white)
        for i in range(4):
            box(pixels, 18 + i, 19 + i, 1, 1, colour)
            box(pixels, 26 - i, 19 + i, 1, 1, colour)
    elif shape == "calendar":
        box(pixels, 18, 18, 9, 9, white)
        box(pixels, 18, 18, 9, 2, EDGE)
        for x in (19, 22, 25):
            box(pixels, x, 22, 1, 1, colour)
            box(pixels, x, 25, 1, 1, colour)
    elif shape == "arrow":
        box(pixels, 21, 18, 3, 6, white)
        for i in range(4):
            box(pixels, 19 + i, 23 + i, 7 - 2 * i, 1, white)


def write_icon(name, pixels):
    rows = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask = b"\0" * (SIZE * 4)  # 32 rows of 32 bits: the alpha channel decides
    image = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0) + rows + mask
    header = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + image)


for name, colour, shape in (("Contacts.ico", (40, 120, 200, 255), "person"),
                            ("Tasks.ico", (40, 160, 80, 255), "check"),
                            ("Mail.ico", (210, 140, 30, 255), "letter"),
                            ("Appointments.ico", (190, 50, 50, 255), "calendar"),
                            ("Subscription.ico", (110, 70, 170, 255), "arrow")):
    pixels = blank()
    page(pixels)
    mark(pixels, colour, shape)
    write_icon(name, pixels)
