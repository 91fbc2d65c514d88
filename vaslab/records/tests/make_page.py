#!/usr/bin/env python3
"""Writes a report page file (page description) from the file layout alone,
independently of the C++ code, for the study-type identification tests.

  make_page.py OUT JSON   JSON: {"name": s, "id": s, "date": s,
      "fields": {"114": s, "155": s, ...},
      "traces": [{"slot": k, "x": x, "y": y, "flags": b, "captions": [c1, c2]}],
      "pressures": [{"slot": k, "x": x, "y": y, "flags": b}],
      "texts": [{"x": x, "y": y, "format": b, "text": s}],
      "graphics": [{"picture": s, "mirror": b, "words": [gap, w, h, sx, rows, dw, dh]}],
      "lines": [{"clip": [l, t, r, b], "symbols": b, "ends": [x1, y1, x2, y2]}],
      "waveform": true}
The header is followed by the text items, their text area, the graphic items,
the waveform block (link kind 2) when asked, the line block (kind 1) and the
end link (kind 0).
"""
import json
import struct
import sys

spec = json.loads(sys.argv[2])
head = bytearray(4869)
head[0:2] = b"\xfe\x01"


def put(buf, off, s, room):
    raw = s.encode("latin-1")[:room]
    buf[off:off + len(raw)] = raw


put(head, 32, spec.get("name", ""), 30)
put(head, 62, spec.get("id", ""), 30)
put(head, 92, spec.get("date", ""), 22)
for off, s in spec.get("fields", {}).items():
    put(head, int(off), s, 41 if off == "114" else 30)

pool = bytearray()
for t in spec.get("traces", []):
    base = 245 + 18 * t["slot"]
    offsets = []
    for c in t.get("captions", ["", ""]):
        offsets.append(len(pool))
        pool += c.encode("latin-1") + b"\0"
    struct.pack_into("<hhhhBBhhhh", head, base, t["x"], t["y"], 0, 2, 0, t.get("flags", 0), -1, -1,
                     offsets[0], offsets[1])
head[461:461 + len(pool)] = pool

for p in spec.get("pressures", []):
    struct.pack_into("<hhB", head, 4591 + 10 * p["slot"], p["x"], p["y"], p.get("flags", 0))

body = bytearray()
texts = spec.get("texts", [])
area = bytearray()
items = bytearray()
for t in texts:
    items += struct.pack("<hhBh", t["x"], t["y"], t.get("format", 0), len(area))
    area += t["text"].encode("latin-1") + b"\0"
text_at = 4869
struct.pack_into("<ih", head, 4851, text_at, len(texts))
body += items + area

graphics = spec.get("graphics", [])
graphic_at = 4869 + len(body)
for g in graphics:
    item = bytearray(36)
    put(item, 8, g["picture"], 13)
    item[21] = g.get("mirror", 0)
    struct.pack_into("<7h", item, 22, *g["words"])
    body += item
struct.pack_into("<ih", head, 4857, graphic_at, len(graphics))

link_at = 4869 + len(body)
struct.pack_into("<i", head, 4863, link_at)
if spec.get("waveform"):
    nxt = link_at + 8 + 236800
    body += struct.pack("<BBhi", 2, 0, 1, nxt) + bytes(236800)
    link_at = nxt
lines = spec.get("lines", [])
if lines:
    nxt = link_at + 8 + 18 * len(lines)
    body += struct.pack("<BBhi", 1, 0, len(lines), nxt)
    for ln in lines:
        body += struct.pack("<8hBB", *ln.get("ends", [100, 300, 200, 400]), *ln["clip"], 0x13, ln["symbols"])
    link_at = nxt
body += struct.pack("<BBhi", 0, 0, 0, 0)

with open(sys.argv[1], "wb") as f:
    f.write(bytes(head) + bytes(body))
