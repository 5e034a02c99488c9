"""Writes deterministic sample files for the compression tests: text-like runs mixed with noise.
   make_sample_files.py <folder> <name>=<size> ..."""
import os
import random
import sys

WORDS = b"zelvan tavrilon handheld device folder package contact calendar sync backup ".split()


def sample(size, seed):
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.7:
            out += b" ".join(rng.choice(WORDS) for _ in range(rng.randint(5, 40))) + b"\r\n"
        else:
            out += rng.randbytes(rng.randint(16, 2048))
    return bytes(out[:size])


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for seed, spec in enumerate(sys.argv[2:]):
        name, size = spec.split("=")
        with open(os.path.join(folder, name), "wb") as f:
            f.write(sample(int(size), seed))


if __name__ == "__main__":
    main()
