#!/usr/bin/env python3
"""Checks every 86-byte record of an archive database file: the 16-bit sum of
bytes 0..83 equals the little-endian word at 84.  Prints the numbers of the
records in use, one a line, with their names; exits 1 on a bad record."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
for n in range(len(data) // 86):
    rec = data[n * 86:(n + 1) * 86]
    (stored,) = struct.unpack_from("<H", rec, 84)
    if sum(rec[:84]) & 0xFFFF != stored:
        print(f"bad {n}")
        sys.exit(1)
    if rec[0] & 1:
        print(n, rec[1:31].split(b"\0")[0].decode("latin-1"))
