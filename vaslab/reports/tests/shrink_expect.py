#!/usr/bin/env python3
"""Box averages of a patterned page raster, from the description of the view
alone:  shrink_expect.py OUT  writes lines "width row column red green blue"
for sampled pixels of the 640- and 309-wide images (rows top-down).

The raster holds, at storage row s (bottom-up) and column x, the page colour
(7 * x + 3 * s + (x * s) % 11) % 40."""
import random
import sys

W, H = 2400, 3150


def palette(c):
    if c < 8:
        return (255 if c & 4 else 0, 255 if c & 2 else 0, 255 if c & 1 else 0)
    if c == 8 or c == 24:
        return (255, 255, 255)
    if c < 23:
        g = 224 - 16 * (c - 9)
        return (g, g, g)
    if c == 23:
        return (0, 0, 0)
    ramp = [(0, 0, 255), (0, 142, 255), (0, 198, 255), (0, 255, 255), (0, 255, 170), (0, 255, 0),
            (198, 255, 0), (255, 255, 0), (255, 215, 0), (255, 176, 0), (255, 149, 0), (255, 121, 0),
            (255, 60, 0), (255, 0, 0), (255, 0, 0)]
    return ramp[c - 25]


def pixel(x, s):
    return (7 * x + 3 * s + (x * s) % 11) % 40


def ranges(n, total):
    """The source range of each of n target cells."""
    out, start = [], 0
    for i in range(n):
        end = (i + 1) * total // n
        out.append((start, end))
        start = max(start, end)
    return out


rnd = random.Random(3)
with open(sys.argv[1], "w") as f:
    for width in (640, 309):
        height = (width * H + W // 2) // W
        rows, cols = ranges(height, H), ranges(width, W)
        for _ in range(300):
            r, c = rnd.randrange(height), rnd.randrange(width)
            (s0, s1), (x0, x1) = rows[r], cols[c]
            n = (s1 - s0) * (x1 - x0)
            sums = [0, 0, 0]
            for s in range(s0, s1):
                for x in range(x0, x1):
                    for k, v in enumerate(palette(pixel(x, s))):
                        sums[k] += v
            rgb = [v // n for v in sums] if n else [0, 0, 0]
            # Storage row r is the top-down row height - 1 - r.
            f.write(f"{width} {height - 1 - r} {c} {rgb[0]} {rgb[1]} {rgb[2]}\n")
