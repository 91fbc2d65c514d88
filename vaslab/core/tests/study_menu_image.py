#!/usr/bin/env python3
"""Writes a study configuration menu file from a list of entries, packed
from the record layout alone, independently of the C++ code.

  study_menu_image.py OUT "kind,label,count,first,name;..." [edit...]

kind is 0 (submenu) or 1 (study).  Edits damage the result:
  second:I:B:V   byte B of entry I of the second copy becomes V
  sum:I          the checksum of entry I (both copies) is off by one
"""
import struct
import sys


def entry(kind, label, count, first, name):
    body = struct.pack("<B29shh8s", kind, label.encode(), count, first, name.encode())
    assert len(body) == 42
    total = sum(b - 256 if b > 127 else b for b in body) & 0xFFFF
    return bytearray(body + struct.pack("<H", total))


out, spec = sys.argv[1], sys.argv[2]
entries = []
for item in filter(None, spec.split(";")):
    kind, label, count, first, name = item.split(",")
    entries.append(entry(int(kind), label, int(count), int(first), name))
n = len(entries)
first_copy = [bytearray(e) for e in entries]
second_copy = [bytearray(e) for e in entries]
for edit in sys.argv[3:]:
    parts = edit.split(":")
    if parts[0] == "second":
        second_copy[int(parts[1])][int(parts[2])] = int(parts[3])
    elif parts[0] == "sum":
        for copy in (first_copy, second_copy):
            copy[int(parts[1])][42] ^= 1
with open(out, "wb") as f:
    f.write(b"".join(first_copy) + b"".join(second_copy))
