#!/usr/bin/env python3
"""Recomputes the volume meter's levels from the bytes the PCM test source delivered.

For each NAME.levels written by the Wine test (first line: bits, channels, frames per buffer; then one
level per buffer) the stream in NAME.raw is cut into buffers of that many frames; each level must be
(highest - lowest sample value) / (2^bits - 1) over all channels of its buffer."""
import struct
import sys
from pathlib import Path


def expected_levels(raw, bits, channels, frames):
    width = bits // 8
    step = frames * channels * width
    levels = []
    for start in range(0, len(raw), step):
        chunk = raw[start:start + step]
        if bits == 16:
            values = struct.unpack("<%dh" % (len(chunk) // 2), chunk[: len(chunk) // 2 * 2])
        else:
            values = list(chunk)
        levels.append((max(values) - min(values)) / float(2 ** bits - 1))
    return levels


def main(work):
    names = sorted(Path(work).glob("*.levels"))
    if len(names) < 2:
        print("expected level files from the Wine test in", work)
        return 1
    failures = 0
    for path in names:
        lines = path.read_text().split()
        bits, channels, frames = (int(v) for v in lines[:3])
        got = [float(v) for v in lines[3:]]
        raw = path.with_suffix(".raw").read_bytes()
        want = expected_levels(raw, bits, channels, frames)
        if len(got) != len(want):
            print("%s: %d levels, expected %d" % (path.name, len(got), len(want)))
            failures += 1
            continue
        for i, (g, w) in enumerate(zip(got, want)):
            if abs(g - w) > 1e-12:
                print("%s: buffer %d level %r, expected %r" % (path.name, i, g, w))
                failures += 1
        print("%s: %d levels checked" % (path.name, len(got)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
