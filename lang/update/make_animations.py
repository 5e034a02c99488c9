#!/usr/bin/env python3
"""Writes the update wizard's three progress animations (uncompressed 8-bit AVI files that the
animation control plays without a decompressor) and its icon:

    file_to_device.avi   a page travels from the PC to the handheld
    device_to_file.avi   a page travels from the handheld to the PC
    delete.avi           a page falls into the bin
    Update.ico           the update's icon (32x32 and 16x16)

Run it from this folder after changing a picture; the outputs are kept in the tree."""
import struct

W, H, FRAMES = 96, 40, 12
PALETTE = [(255, 255, 255), (0, 0, 0), (40, 90, 200), (200, 200, 200), (230, 160, 40), (160, 30, 30)]
PALETTE += [(0, 0, 0)] * (256 - len(PALETTE))
WHITE, BLACK, BLUE, GREY, PAGE, RED = range(6)


def rect(pixels, x0, y0, x1, y1, colour):
    for y in range(max(y0, 0), min(y1, H)):
        for x in range(max(x0, 0), min(x1, W)):
            pixels[y][x] = colour


def frame(kind, step):
    pixels = [[WHITE] * W for _ in range(H)]
    # The PC on the left: a monitor on a foot.
    rect(pixels, 2, 6, 30, 26, BLACK)
    rect(pixels, 4, 8, 28, 24, BLUE)
    rect(pixels, 12, 26, 20, 32, GREY)
    if kind == "delete":
        rect(pixels, 70, 14, 92, 36, GREY)  # the bin
        rect(pixels, 68, 12, 94, 15, BLACK)
    else:
        rect(pixels, 74, 4, 90, 36, BLACK)  # the handheld
        rect(pixels, 76, 7, 88, 26, BLUE)
        rect(pixels, 79, 29, 85, 33, GREY)
    t = step / (FRAMES - 1)
    if kind == "device_to_file":
        t = 1 - t
    x = int(30 + t * 34)
    y = 12 + (int(6 * t) if kind == "delete" else -int(8 * (1 - abs(2 * t - 1))))
    rect(pixels, x, y, x + 10, y + 13, PAGE)
    rect(pixels, x + 2, y + 3, x + 8, y + 4, BLACK)
    rect(pixels, x + 2, y + 6, x + 8, y + 7, BLACK)
    # Bottom-up rows, each padded to 4 bytes.
    stride = (W + 3) & ~3
    return b"".join(bytes(row) + b"\0" * (stride - W) for row in reversed(pixels))


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, tag, body):
    return kind + struct.pack("<I", len(body) + 4) + tag + body


def avi(kind):
    frames = [frame(kind, i) for i in range(FRAMES)]
    size = len(frames[0])
    usec = 100000
    avih = struct.pack("<IIIIIIIIIIIIII", usec, size * 10, 0, 0x10, FRAMES, 0, 1, size, W, H, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"\0\0\0\0", 0, 0, 0, 0, usec, 1000000, 0, FRAMES,
                       size, 0xFFFFFFFF, 0, 0, 0, W, H)
    bih = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, size, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", bih + pal))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)
    movi_body = b""
    index = b""
    offset = 4
    for f in frames:
        c = chunk(b"00db", f)
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(f))
        offset += len(c)
        movi_body += c
    movi = riff_list(b"LIST", b"movi", movi_body)
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", index))


def icon_image(n):
    pixels = [[(0, 0, 0, 0)] * n for _ in range(n)]
    s = n / 32
    for y in range(n):
        for x in range(n):
            X, Y = x / s, y / s
            if 8 <= X < 24 and 2 <= Y < 30:
                pixels[y][x] = (20, 20, 20, 255)
                if 10 <= X < 22 and 5 <= Y < 22:
                    pixels[y][x] = (200, 90, 40, 255)
            # an arrow into the screen
            if 14 <= X < 18 and 7 <= Y < 17:
                pixels[y][x] = (255, 255, 255, 255)
            if 11 <= X < 21 and 15 <= Y < 20 and abs(X - 16) <= 20 - Y:
                pixels[y][x] = (255, 255, 255, 255)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_stride = ((n + 31) // 32) * 4
    mask = b"\0" * (mask_stride * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def icon():
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    for kind in ("file_to_device", "device_to_file", "delete"):
        with open(kind + ".avi", "wb") as f:
            f.write(avi(kind))
    with open("Update.ico", "wb") as f:
        f.write(icon())
