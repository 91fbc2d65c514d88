#!/usr/bin/env python3
"""Run-length pictures of the report page, written and read from the format
tables alone, independently of the program.

  gph.py OUT.gph CODING SEED   writes a test picture (CODING colour, two, four)
  gph.py OUT.gph logo 0        writes the header logo of the demo machine
  (gph_expect.py computes the pixels a placed picture paints.)
"""
import random
import sys

PAGE_COLOUR = [7, 3, 5, 1, 6, 2, 4, 0]
CODINGS = {"colour": (3, 31), "two": (1, 127), "four": (2, 63)}


def count_bytes(n):
    """A count as a sum of bytes continued while a byte is 255."""
    out = bytearray()
    while n >= 255:
        out.append(255)
        n -= 255
    out.append(n)
    return bytes(out)


def encode(rows, coding, width, colour_a=0, colour_b=0):
    """rows: lists of (symbol, length) runs; symbol is the colour index (colour
    runs) or 0..1 / 0..3 (two- and four-colour).  Lengths beyond the escape
    are written with the escape and its continuation."""
    bits, escape = CODINGS[coding]
    w0 = width | (colour_a << 12) | (0x8000 if coding != "colour" else 0)
    w1 = len(rows) | (colour_b << 12) | (0x8000 if coding == "four" else 0)
    out = bytearray([w0 & 255, w0 >> 8, w1 & 255, w1 >> 8])
    for runs in rows:
        body = bytearray()
        for symbol, pixels in runs:
            length = pixels - 1
            if length < escape:
                body.append((symbol << (8 - bits)) | length)
            else:
                body.append((symbol << (8 - bits)) | escape)
                body += count_bytes(length - escape)
        out += count_bytes(len(body)) + body
    return bytes(out)


def decode_rows(data):
    """Yields each row as a list of page colours, until the data ends."""
    w0 = data[0] | data[1] << 8
    w1 = data[2] | data[3] << 8
    a, b = PAGE_COLOUR[(w0 >> 12) & 7], PAGE_COLOUR[(w1 >> 12) & 7]
    if not w0 & 0x8000:
        bits, escape, colours = 3, 31, PAGE_COLOUR
    elif not w1 & 0x8000:
        bits, escape, colours = 1, 127, [7, a]
    else:
        bits, escape, colours = 2, 63, [7, a, b, 0]
    pos = 4

    def take_count():
        nonlocal pos
        total = 0
        while True:
            if pos >= len(data):
                return None
            byte = data[pos]
            pos += 1
            total += byte
            if byte != 255:
                return total

    while True:
        n = take_count()
        if n is None or pos + n > len(data):
            return
        row_end = pos + n
        pixels = []
        while pos < row_end:
            byte = data[pos]
            pos += 1
            length = byte & ((1 << (8 - bits)) - 1)
            if length == escape:
                while pos < row_end:
                    more = data[pos]
                    pos += 1
                    length += more
                    if more != 255:
                        break
            pixels += [colours[byte >> (8 - bits)]] * (length + 1)
        yield pixels


def expect(data, x, y, mirror, gap, source_x, source_rows, draw_w, draw_h):
    """{(row, x): colour} of a placed picture, clipped to the page."""
    out = {}
    rows = decode_rows(data)
    for _ in range(source_rows):
        if next(rows, None) is None:
            return out
    for r in range(draw_h):
        pixels = next(rows, None)
        if pixels is None:
            break
        pixels = pixels[source_x:source_x + draw_w]
        for i, c in enumerate(pixels):
            targets = [x - i] if mirror == 2 else [x + i]
            if mirror == 1:
                targets.append(x - gap - 1 - i)
            for t in targets:
                if 0 <= t < 2400 and y + r < 3150:
                    out[(y + r, t)] = c
    return out


def test_picture(coding, seed):
    """Rows of random runs with long ones among them (escapes, counts past 255)."""
    rnd = random.Random(seed)
    symbols = {"colour": 8, "two": 2, "four": 4}[coding]
    rows = []
    for r in range(40):
        runs = []
        width = 0
        while width < 700:
            pixels = rnd.choice([1, 2, 5, 17, 32, 63, 64, 65, 127, 128, 129, 300, 600])
            runs.append((rnd.randrange(symbols), pixels))
            width += pixels
        if r == 7:  # a row of 255 run bytes: its count is coded 255, 0
            runs = [(i % symbols, 1 + i % 3) for i in range(255)]
        if r == 8:  # and one of more
            runs = [(i % symbols, 1 + i % 3) for i in range(400)]
        rows.append(runs)
    return encode(rows, coding, 700, colour_a=rnd.randrange(8), colour_b=rnd.randrange(8))


def logo():
    """300 by 200, four colours: a teal frame around three red pulse waves."""
    import math
    w, h = 300, 200

    def pulse(t):  # one beat, t in 0..1: a steep rise, a notch, a slow fall
        if t < 0.12:
            return math.sin(t / 0.12 * math.pi / 2)
        return 0.75 * math.exp(-(t - 0.12) * 3.2) + 0.25 * math.exp(-((t - 0.42) / 0.06) ** 2) * 0.8 + \
            0.25 * math.exp(-(t - 0.12) * 9)

    ys = [int(150 - 95 * pulse(((x - 20) % 87) / 87.0)) if 20 <= x < 281 else 150 for x in range(w)]
    grid = [[0] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            if min(x, y, w - 1 - x, h - 1 - y) < 7:
                grid[y][x] = 2
    for x in range(14, w - 14):
        lo, hi = sorted((ys[x - 1], ys[x]))
        for y in range(lo - 3, hi + 4):
            grid[y][x] = 1
    for x in range(30, w - 30, 6):  # a dotted base line
        grid[170][x] = grid[171][x] = 3
    rows = []
    for line in grid:
        runs = []
        for c in line:
            if runs and runs[-1][0] == c:
                runs[-1][1] += 1
            else:
                runs.append([c, 1])
        rows.append([tuple(r) for r in runs])
    # Colour A index 6 (red), colour B index 1 (teal).
    return encode(rows, "four", w, colour_a=6, colour_b=1)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(logo() if sys.argv[2] == "logo" else test_picture(sys.argv[2], int(sys.argv[3])))
