#!/usr/bin/env python3
"""Writes study records from the field tables alone, independently of the
C++ code: `make_records.py OUT template` or `make_records.py OUT page`."""
import struct
import sys


def record(fields):
    rec = bytearray(300)
    for fmt, off, val in fields:
        struct.pack_into("<" + fmt, rec, off, val)
    struct.pack_into("<H", rec, 298, sum(rec[:298]) & 0xFFFF)
    return bytes(rec)


def template():
    header = record([("H", 0, 0), ("30s", 2, b"Lower Arterial"), ("h", 32, 250),
                     ("h", 34, 0), ("h", 36, 300), ("B", 100, 0xEE)])
    # Step 1: Doppler, older numbering, gain 1, probe 18, scale 3.
    doppler = record([("B", 0, 6), ("B", 1, 1), ("30s", 2, b"Rt Brachial"),
                      ("B", 37, 0x07), ("B", 38, 18), ("B", 39, 3), ("B", 40, 2),
                      ("B", 41, 1), ("B", 42, 4), ("B", 43, 1), ("h", 44, 200),
                      ("B", 46, 5), ("B", 47, 3), ("B", 48, 9), ("h", 49, 296),
                      ("B", 197, 0x21), ("B", 200, 1), ("B", 203, 1), ("B", 250, 0x99)])
    # Step 2: single pressure.
    pressure = record([("B", 0, 2), ("B", 1, 1), ("30s", 2, b"Lt Ankle"),
                       ("B", 38, 2), ("B", 39, 19), ("B", 40, 1), ("h", 41, -180),
                       ("B", 43, 0), ("h", 44, 20), ("B", 46, 3), ("B", 47, 1),
                       ("B", 48, 6), ("B", 49, 2), ("B", 50, 2), ("h", 51, 128),
                       ("B", 53, 8), ("B", 54, 1), ("B", 55, 7), ("h", 56, 250),
                       ("B", 58, 3), ("B", 59, 0x12), ("B", 62, 1), ("B", 65, 1)])
    # Step 3: a diagnostics step.
    diag = record([("B", 0, 6), ("B", 1, 0), ("30s", 2, b"Self test")])
    return header + doppler + pressure + diag


def page():
    data = bytearray(12013)
    struct.pack_into("<13sBhhhhhhhhHh", data, 0, b"00000123.sty", 0x02, 100, -197, 99,
                     128, -1, 37, 6, 3, 0x1ABC, 15)
    for i in range(2960):
        struct.pack_into("<h", data, 34 + 2 * i, i - 1480)
        struct.pack_into("<h", data, 5954 + 2 * i, -i)
    struct.pack_into("<5s130si", data, 11874, b"123", b"Notes text", 1700000000)
    return bytes(data)


out, kind = sys.argv[1], sys.argv[2]
with open(out, "wb") as f:
    f.write(template() if kind == "template" else page())
