#!/usr/bin/env python3
"""Compresses a corpus with the suite's entry compressor and with the reference compressor and
fails unless both give the same bytes (or both decline) for every input.

    check_compressor.py ENTRY_COMPRESS_TOOL WORK_FOLDER
"""
import os
import random
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from entry_compress_reference import compress  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def corpus():
    rng = random.Random(20030101)
    words = ("the device package entry window folder copy match literal stream zelvan handheld "
             "install script version icon byte bit table range code prefix extra of and to a in").split()
    text = " ".join(rng.choice(words) for _ in range(9000)).encode()
    yield "text, generated", text
    with open(os.path.join(HERE, "..", "..", "README.md"), "rb") as f:
        yield "text, README", f.read()
    yield "binary records", b"".join(struct.pack("<IHhf", i * 7, i % 97, -i, i / 3) for i in range(3000))
    yield "binary, four symbols", bytes(rng.choice(b"\x00\x01\x7f\xff") for _ in range(30000))
    yield "every byte value twice", bytes(range(256)) * 2
    for size in (1, 2, 3, 4, 9, 100, 256, 257, 300, 5000, 70000):
        yield "zeros, %d" % size, bytes(size)
    for size in (1000, 20000):
        yield "random, %d" % size, rng.randbytes(size)
    for byte in (b"\x00", b"\xff", b"A"):
        yield "one byte %r" % byte, byte
    for short in (b"ab", b"aaa", b"abab", b"abcabc"):
        yield "short %r" % short, short
    yield "run of 256", b"a" * 256
    yield "run of 257", b"a" * 257
    yield "runs of 512 and 256", b"a" * 512 + b"b" * 256
    yield "256-byte block four times", rng.randbytes(256) * 4
    yield "255-byte block four times", rng.randbytes(255) * 4
    for block in (4000, 8000, 8190, 8191, 8192, 8193, 9000):
        yield "window wrap, block of %d three times" % block, rng.randbytes(block) * 3
    pieces = [rng.randbytes(rng.randint(1, 600)) for _ in range(40)]
    yield "window wrap, pieces recurring", b"".join(rng.choice(pieces) for _ in range(400))
    yield "window wrap, long text", text * 4


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    tool, folder = argv[1], argv[2]
    os.makedirs(folder, exist_ok=True)
    failures = 0
    for number, (name, data) in enumerate(corpus()):
        source = os.path.join(folder, "case%02d.in" % number)
        target = os.path.join(folder, "case%02d.out" % number)
        with open(source, "wb") as f:
            f.write(data)
        printed = subprocess.run([tool, source, target], check=True, capture_output=True, text=True).stdout
        with open(target, "rb") as f:
            ours = f.read() if int(printed) >= 0 else None
        reference = compress(data)
        if ours == reference:
            print("same   %-42s %6d bytes -> %s" % (name, len(data), len(ours) if ours is not None else -1))
            continue
        failures += 1
        if ours is None or reference is None:
            print("DIFFER %-42s compressor %s, reference %s" % (
                name, "-1" if ours is None else len(ours), "-1" if reference is None else len(reference)))
        else:
            at = next((i for i, (a, b) in enumerate(zip(ours, reference)) if a != b), min(len(ours), len(reference)))
            print("DIFFER %-42s compressor %d bytes, reference %d bytes, first difference at byte %d" % (
                name, len(ours), len(reference), at))
    print("%d of the corpus's inputs differ" % failures if failures else "every input gives the same stream")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
