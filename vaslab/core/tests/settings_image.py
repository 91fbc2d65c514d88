#!/usr/bin/env python3
"""Builds the 856-byte settings defaults image from the field table alone,
independently of the C++ code, and writes it to the file named on the
command line."""
import struct
import sys

# (format, offset, value): every field that is not zero by default.
FIELDS = [
    ("<h", 0, 0), ("<h", 2, 0), ("<h", 4, 0), ("<h", 6, 0), ("<h", 8, 0), ("<h", 10, 0),
    ("<B", 12, 0x80), ("<B", 13, 0x80), ("<B", 14, 0x80), ("<B", 15, 0x80),
    ("<64s", 16, b"+"),
    ("<2s", 80, b"1"),
    ("<H", 82, 0x2F8), ("<B", 84, 3), ("<B", 85, 0), ("<H", 86, 0), ("<H", 88, 0),
    ("<H", 90, 0x3F8), ("<B", 92, 4), ("<B", 93, 2), ("<B", 94, 0), ("<B", 95, 0),
    ("<H", 96, 0x2F8), ("<B", 98, 3), ("<B", 99, 0), ("<B", 100, 0),
    ("<31s", 101, b""), ("<31s", 132, b"C:\\ARCHIVE\\"), ("<4s", 163, b""),
    ("<31s", 167, b""), ("<4s", 198, b"ZVT"),
    ("<B", 202, 3), ("<B", 203, 0), ("<B", 204, 0),
    ("<64s", 205, b""), ("<31s", 269, b""),
    ("<B", 300, 20), ("<B", 301, 20), ("<B", 302, 0),
    ("<64s", 303, b""), ("<B", 367, 0), ("<64s", 368, b""), ("<B", 432, 1),
    ("<64s", 433, b""), ("<64s", 497, b""), ("<7s", 561, b"Import"), ("<B", 568, 0),
    ("<21s", 569, b"Other Text"), ("<7s", 590, b"Export"), ("<16s", 597, b""),
    ("<16s", 613, b""), ("<B", 629, 0), ("<64s", 630, b""), ("<64s", 694, b""),
    ("<2s", 758, b"0"), ("<64s", 760, b""), ("<B", 824, 0), ("<B", 825, 0),
    ("<30s", 826, b""),
]

image = bytearray(856)
end = 0
for fmt, off, val in FIELDS:
    assert off == end, f"gap or overlap at {off}"
    struct.pack_into(fmt, image, off, val)
    end = off + struct.calcsize(fmt)
assert end == 856
with open(sys.argv[1], "wb") as f:
    f.write(image)
