#!/usr/bin/env python3
"""Draws the backup wizard's pictures: the two header bitmaps and the two animation clips
(uncompressed 8-bit AVI), written beside this script. Run it again after changing a drawing."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

PALETTE = [(255, 255, 255), (57, 93, 237), (30, 40, 120), (200, 210, 245), (250, 190, 40), (90, 90, 90)]


def palette_bytes():
    data = b""
    for i in range(256):
        r, g, b = PALETTE[i] if i < len(PALETTE) else (0, 0, 0)
        data += bytes((b, g, r, 0))
    return data


def rows_bottom_up(pixels, width):
    stride = (width + 3) & ~3
    out = b""
    for row in reversed(pixels):
        out += bytes(row) + b"\0" * (stride - width)
    return out


def info_header(width, height):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, ((width + 3) & ~3) * height, 2835, 2835, 256, 0)


def write_bmp(name, pixels):
    width, height = len(pixels[0]), len(pixels)
    body = info_header(width, height) + palette_bytes() + rows_bottom_up(pixels, width)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + 1024)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(head + body)


def canvas(width, height, colour=0):
    return [[colour] * width for _ in range(height)]


def box(pixels, x, y, w, h, colour):
    for row in range(max(0, y), min(len(pixels), y + h)):
        for col in range(max(0, x), min(len(pixels[0]), x + w)):
            pixels[row][col] = colour


def device(pixels, x, y):
    box(pixels, x, y, 18, 30, 2)
    box(pixels, x + 2, y + 3, 14, 18, 3)


def computer(pixels, x, y):
    box(pixels, x, y, 28, 20, 5)
    box(pixels, x + 2, y + 2, 24, 16, 3)
    box(pixels, x + 10, y + 20, 8, 4, 5)
    box(pixels, x + 4, y + 24, 20, 3, 5)


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, tag, data):
    return chunk(kind, tag + data)


def write_avi(name, frames):
    width, height = len(frames[0][0]), len(frames[0])
    frame_size = ((width + 3) & ~3) * height
    usec = 100000
    avih = struct.pack("<IIIIIIIIII4I", usec, frame_size * 10, 0, 0x10, len(frames), 0, 1, frame_size, width, height,
                       0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, 1, 10, 0, len(frames), frame_size,
                       0xFFFFFFFF, 0, 0, 0, width, height)
    strf = info_header(width, height) + palette_bytes()
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) +
                     riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_data = b""
    index = b""
    offset = 4
    for frame in frames:
        data = rows_bottom_up(frame, width)
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(data))
        piece = chunk(b"00db", data)
        movi_data += piece
        offset += len(piece)
    movi = riff_list(b"LIST", b"movi", movi_data)
    body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def transfer_frames(to_computer):
    frames = []
    for step in range(8):
        pixels = canvas(160, 40)
        device(pixels, 6, 5)
        computer(pixels, 124, 8)
        start, end = (30, 112) if to_computer else (112, 30)
        x = start + (end - start) * step // 7
        box(pixels, x, 14, 8, 10, 4)
        box(pixels, x + 1, 15, 6, 2, 1)
        frames.append(pixels)
    return frames


def header_bitmap():
    pixels = canvas(49, 49)
    device(pixels, 4, 10)
    computer(pixels, 19, 14)
    box(pixels, 23, 4, 4, 4, 1)
    return pixels


def watermark_bitmap():
    pixels = canvas(164, 314, 1)
    for stripe in range(0, 314, 24):
        box(pixels, 0, stripe, 164, 4, 2)
    device(pixels, 40, 130)
    computer(pixels, 90, 135)
    return pixels


if __name__ == "__main__":
    write_bmp("Watermark.bmp", watermark_bitmap())
    write_bmp("Header.bmp", header_bitmap())
    write_avi("BackingUp.avi", transfer_frames(True))
    write_avi("Restoring.avi", transfer_frames(False))
