#!/usr/bin/env python3
"""A reference of the package entry compressor, written apart from the suite's own and sharing no
code with it. It favours plainness over speed: the window is the list of every byte put into it,
and a search looks for the most recent occurrence that lies wholly within its last 8192 bytes.

    entry_compress_reference.py INPUT OUTPUT   writes the stream, prints its length (or -1)
"""
import sys

WINDOW = 8192
LONGEST_PENDING = 256

# (prefix bits as they are sent, extra bits, first value of the range)
LENGTH_CODES = [
    ("10", 1, 2), ("110", 1, 4), ("11100", 0, 6), ("111100", 0, 7), ("11101", 1, 8),
    ("111101", 1, 10), ("1111100", 1, 12), ("11111101", 0, 14), ("111111110", 0, 15),
    ("11111011", 1, 16), ("111111101", 1, 18), ("11111010", 2, 20), ("11111100", 3, 24),
    ("111111100", 5, 32), ("1111111110", 6, 64), ("11111111110", 7, 128), ("11111111111", 0, 256),
]
DISTANCE_CODES = [
    ("000", 10, 1024), ("001", 9, 512), ("010", 8, 256), ("011", 6, 64), ("100", 7, 128),
    ("1010", 11, 2048), ("1011", 12, 4096), ("1100", 5, 32), ("1101", 4, 16), ("11100", 1, 0),
    ("11101", 2, 6), ("111100", 1, 4), ("111101", 0, 2), ("111110", 2, 12), ("1111110", 0, 3),
    ("1111111", 1, 10),
]


def code_for(codes, value):
    for prefix, extra, first in codes:
        if first <= value < first + (1 << extra):
            return prefix, extra, first
    raise ValueError(value)


def code_bits(codes, value):
    prefix, extra, _ = code_for(codes, value)
    return len(prefix) + extra


class BitStream:
    """Bits packed into bytes from the least significant bit up."""

    def __init__(self):
        self.data = bytearray()
        self.count = 0

    def bit(self, bit):
        if self.count % 8 == 0:
            self.data.append(0)
        self.data[-1] |= bit << (self.count % 8)
        self.count += 1

    def field(self, value, width):
        for shift in range(width - 1, -1, -1):
            self.bit((value >> shift) & 1)

    def code(self, codes, value):
        prefix, extra, first = code_for(codes, value)
        for c in prefix:
            self.bit(int(c))
        self.field(value - first, extra)


def compress(data):
    """The compressed stream of `data`, or None where the compressor gives -1."""
    window = bytearray()  # every byte put into the window, oldest first
    pending = bytearray()
    found = {}  # pending length -> window position of the first that many pending bytes
    out = BitStream()

    def search(k):
        fill = min(len(window), WINDOW)
        if k > fill:
            return None
        at = window.rfind(pending[:k], len(window) - fill)
        return None if at < 0 else at

    def drop(count):
        # The rest of the pending string occurs `count` bytes further on than the longer
        # strings it was found as.
        del pending[:count]
        moved = {k - count: at + count for k, at in found.items() if count < k <= count + len(pending)}
        found.clear()
        found.update(moved)

    def literal():
        out.field(0, 1)
        out.field(pending[0], 8)
        window.append(pending[0])
        drop(1)

    def best_split():
        n = len(pending)
        best, best_cost, best_distance = 1, 9 * n, 0
        for k in range(2, n + 1):
            distance = (len(window) - found[k] - k) % WINDOW
            cost = code_bits(LENGTH_CODES, k) + code_bits(DISTANCE_CODES, distance) + 9 * (n - k)
            if cost < best_cost:
                best, best_cost, best_distance = k, cost, distance
        if best == 1:
            literal()
            return
        out.code(LENGTH_CODES, best)
        out.code(DISTANCE_CODES, best_distance)
        window.extend(pending[:best])
        drop(best)

    next_byte = 0
    while next_byte < len(data):
        pending.append(data[next_byte])
        at = search(len(pending))
        if at is not None:
            found[len(pending)] = at
            next_byte += 1
            if len(pending) == LONGEST_PENDING:
                best_split()
        elif len(pending) < 3:
            found.pop(len(pending), None)
            next_byte += 1
            literal()
        else:
            pending.pop()
            best_split()
        if len(out.data) >= len(data):
            return None
    while pending:
        if len(pending) == 1:
            literal()
        else:
            best_split()
    return bytes(out.data) if len(out.data) < len(data) else None


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        stream = compress(f.read())
    with open(argv[2], "wb") as f:
        f.write(stream or b"")
    print(len(stream) if stream is not None else -1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
