#!/usr/bin/env python3
"""Writes the two progress animations of the device folder as small uncompressed 8-bit AVI
files: a sheet of paper travelling from a folder to the device (copy) and one falling into a
bin (delete). Run it again after changing a picture; the AVI files are kept in the tree."""
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT, FRAMES = 96, 32, 12
PALETTE = [(255, 255, 255), (0, 0, 0), (255, 220, 120), (60, 110, 200), (230, 230, 230), (120, 120, 120)]
WHITE, BLACK, FOLDER, DEVICE, PAPER, BIN = range(6)


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def lst(kind, data):
    return chunk(b"LIST", kind + data)


def rect(pixels, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(HEIGHT, y1)):
        for x in range(max(0, x0), min(WIDTH, x1)):
            pixels[y][x] = colour


def frame(kind, index):
    pixels = [[WHITE] * WIDTH for _ in range(HEIGHT)]
    if kind == "copy":
        rect(pixels, 2, 10, 22, 26, FOLDER)
        rect(pixels, 76, 6, 92, 28, DEVICE)
        rect(pixels, 79, 9, 89, 20, WHITE)
        x = 14 + index * (60 // (FRAMES - 1))
        rect(pixels, x, 8, x + 8, 18, BLACK)
        rect(pixels, x + 1, 9, x + 7, 17, PAPER)
    else:
        rect(pixels, 2, 6, 18, 28, DEVICE)
        rect(pixels, 70, 14, 88, 30, BIN)
        x = 18 + index * (52 // (FRAMES - 1))
        y = 4 + index * (12 // (FRAMES - 1))
        rect(pixels, x, y, x + 8, y + 10, BLACK)
        rect(pixels, x + 1, y + 1, x + 7, y + 9, PAPER)
    # Bottom-up rows, each padded to four bytes (the width already is).
    return b"".join(bytes(row) for row in reversed(pixels))


def avi(kind):
    frames = [frame(kind, i) for i in range(FRAMES)]
    size = WIDTH * HEIGHT
    avih = struct.pack("<IIIIIIIIII4I", 100000, size * 10, 0, 0x10, FRAMES, 0, 1, size, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, 1, 10, 0, FRAMES, size, 0xFFFFFFFF,
                       0, 0, 0, WIDTH, HEIGHT)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    palette += b"\0" * (4 * (256 - len(PALETTE)))
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, size, 0, 0, 256, 0) + palette
    hdrl = lst(b"hdrl", chunk(b"avih", avih) + lst(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_data = b""
    index = b""
    offset = 4
    for data in frames:
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(data))
        piece = chunk(b"00db", data)
        movi_data += piece
        offset += len(piece)
    body = b"AVI " + hdrl + lst(b"movi", movi_data) + chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(body)) + body


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    (out / "Copy.avi").write_bytes(avi("copy"))
    (out / "Delete.avi").write_bytes(avi("delete"))
