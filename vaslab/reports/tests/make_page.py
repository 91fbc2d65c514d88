#!/usr/bin/env python3
"""Writes a report page (`make_page.py OUT [--no-waveform]`) file from the format tables alone, laid out back to
back as the writer does: header, text items, pool, graphic items, waveform
link and block, line link and items, end link."""
import struct
import sys

HEADER = 4869
header = bytearray(HEADER)
header[0:2] = b"\xFE\x01"
for off, width, text in [(2, 30, b"Lower Arterial Doppler"), (32, 30, b"DOE, JANE"),
                         (62, 30, b"ID-4711"), (92, 22, b"12/09/2026"),
                         (114, 41, b"Referring: Dr. Who"), (155, 30, b"Side: Right"),
                         (185, 30, b"Tech: AB"), (215, 30, b"Room 3")]:
    struct.pack_into(f"<{width}s", header, off, text)
# Empty traces as the reader leaves them (count at least 2).
for t in range(12):
    struct.pack_into("<h", header, 245 + 18 * t + 6, 2)
# Trace B: x, y, start, count, level, flags, points, labels.
struct.pack_into("<hhhhBBhhhh", header, 245 + 18 * 1, 150, 900, 64, 296, 77, 0x8C, 10, -1, 0, 12)
header[461:461 + 24] = b"Rt CFA\0\0\0\0\0\0Velocity\0\0\0\0"
for i in range(2960):
    header[1261 + i] = (i * 7) & 0xFF
header[4221 + 8] = 0x81          # samples 64 and 71 flagged
# Pressure C.
struct.pack_into("<hhB5s", header, 4591 + 10 * 2, 1800, 2200, 0x03, b"***")

text_items = [(100, 400, 0x25, 0), (120, 3100, 0x48, 6)]
pool = b"Hello\0\x01Red\x07back\0"
graphics = [(0, 0, b"logo.rle", 0, 0, 600, 200, 0, 0, 600, 200),
            (1500, 300, b"legs.rle", 1, 40, 300, 900, 0, 12, 300, 880)]
lines = [(11, 300, 2388, 300, 11, 216, 2388, 3138, 0x23, 0x12),
         (500, 500, 800, 900, 100, 250, 2000, 3000, 0x51, 0x90)]

text_off = HEADER
graphic_off = text_off + 7 * len(text_items) + len(pool)
link_off = graphic_off + 36 * len(graphics)
struct.pack_into("<ihihi", header, 4851, text_off, len(text_items), graphic_off, len(graphics),
                 link_off)
struct.pack_into("<H", header, 4867, 0xBEEF)

out = bytearray(header)
for item in text_items:
    out += struct.pack("<hhBh", *item)
out += pool
for (x, y, name, mirror, gap, w, h, sx, sr, dw, dh) in graphics:
    out += struct.pack("<hh4s13sBhhhhhhh", x, y, b"", name, mirror, gap, w, h, sx, sr, dw, dh)
if "--no-waveform" not in sys.argv:
    wave_link = len(out)
    out += struct.pack("<BBhi", 2, 0, 1, wave_link + 8 + 236800)
    block = bytearray(236800)
    for i in range(2960):
        block[i] = 100
        block[2960 + i] = 50
        block[5920 + 78 * i] = i & 0x0F
    out += block
line_link = len(out)
out += struct.pack("<BBhi", 1, 0, len(lines), line_link + 8 + 18 * len(lines))
for l in lines:
    out += struct.pack("<hhhhhhhhBB", *l)
out += struct.pack("<BBhi", 0, 0, 0, 0)

with open(sys.argv[1], "wb") as f:
    f.write(out)
