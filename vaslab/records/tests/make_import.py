#!/usr/bin/env python3
"""Writes an import file as the worklist program does, from the record layout
alone: `make_import.py OUT TEXT...`, one 4920-byte record per text, each text
NUL-padded.  A text "!full" fills its record without the final NUL."""
import sys

RECORD = 4920
out, texts = sys.argv[1], sys.argv[2:]
data = bytearray()
for t in texts:
    if t == "!full":
        data += b"X" * RECORD
    else:
        raw = t.encode("latin-1")[:RECORD - 1]
        data += raw + bytes(RECORD - len(raw))
with open(out, "wb") as f:
    f.write(data)
