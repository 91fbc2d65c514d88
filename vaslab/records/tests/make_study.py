#!/usr/bin/env python3
"""Writes study templates and data pages from the record layouts alone,
independently of the C++ code.

  make_study.py template OUT JSON   JSON: {"title": str, "count": n,
      "steps": [{"type": t, "caption": str, "set": {"offset": byte}},
                {"type": 255, "labels": [l3, l5, l6, l7], "defaults": [d3, d4, d5, d6, d7],
                 "opt294": b, "opt297": b}], "bad_checksum": record}
  make_study.py page OUT JSON       JSON: {"template": str, "flags": b, "start": n,
      "newest": n, "short": str, "text": str, "ch2": {"index": value}}

Report layouts: a step may also carry "words": {"offset": int16} and
"texts": {"offset": str} (latin-1, control bytes allowed, no NUL added past
the text).  A page may also carry "baseline", "points": [p1, p2], "gain",
"filter", "status", "probe", "save_time", "ch1": {"index": value},
"ch1_run": [first index, [values...]], "texts": {"offset": str}, and
"block": {"flags": b, "seed": n} for the 236802-byte waveform block behind
the page (byte i of the block is (i * seed + flags) mod 256 past byte 0),
or "block_bytes": n to cut the file n bytes into the block.
"""
import json
import struct
import sys

LABELS = [32, 114, 174, 234]          # rows 3, 5, 6, 7
DEFAULTS = [73, 2, 144, 204, 264]     # rows 3, 4, 5, 6, 7


def seal(rec):
    struct.pack_into("<H", rec, 298, sum(rec[:298]) & 0xFFFF)
    return rec


def text(rec, off, s, room):
    raw = s.encode("latin-1")[:room]
    rec[off:off + len(raw)] = raw


def template(spec):
    steps = spec.get("steps", [])
    head = bytearray(300)
    text(head, 2, spec.get("title", "Study"), 29)
    struct.pack_into("<hhh", head, 32, spec.get("count", len(steps)), 0, 300)
    records = [seal(head)]
    for st in steps:
        rec = bytearray(300)
        rec[0] = st["type"]
        rec[1] = 1
        if st["type"] == 255:
            for off, s in zip(LABELS, st.get("labels", [])):
                text(rec, off, s, 40)
            for off, s in zip(DEFAULTS, st.get("defaults", [])):
                text(rec, off, s, 40)
            rec[294] = st.get("opt294", 0)
            rec[297] = st.get("opt297", 0)
        else:
            text(rec, 2, st.get("caption", ""), 30)
        for off, val in st.get("set", {}).items():
            rec[int(off)] = val
        for off, val in st.get("words", {}).items():
            struct.pack_into("<h", rec, int(off), val)
        for off, val in st.get("texts", {}).items():
            raw = val.encode("latin-1")
            rec[int(off):int(off) + len(raw)] = raw
        records.append(seal(rec))
    bad = spec.get("bad_checksum")
    if bad is not None:
        records[bad][298] ^= 0xFF
    return b"".join(records)


def page(spec):
    data = bytearray(12013)
    text(data, 0, spec.get("template", "00000123.sty"), 12)
    data[13] = spec.get("flags", 0)
    struct.pack_into("<hhh", data, 14, spec.get("count", 2960), spec.get("start", 0),
                     spec.get("newest", 0))
    p1, p2 = spec.get("points", [-1, -1])
    struct.pack_into("<hhhhhHh", data, 20, spec.get("baseline", 0), p1, p2, spec.get("gain", 0),
                     spec.get("filter", 0), spec.get("status", 0), spec.get("probe", 0))
    for idx, val in spec.get("ch2", {}).items():
        struct.pack_into("<h", data, 5954 + 2 * int(idx), val)
    for idx, val in spec.get("ch1", {}).items():
        struct.pack_into("<h", data, 34 + 2 * int(idx), val)
    if "ch1_run" in spec:
        first, values = spec["ch1_run"]
        for i, val in enumerate(values):
            struct.pack_into("<h", data, 34 + 2 * (first + i), val)
    text(data, 11874, spec.get("short", ""), 5)
    text(data, 11879, spec.get("text", ""), 129)
    for off, val in spec.get("texts", {}).items():
        raw = val.encode("latin-1")
        data[int(off):int(off) + len(raw)] = raw
    struct.pack_into("<i", data, 12009, spec.get("save_time", 1700000000))
    if "block" in spec:
        flags, seed = spec["block"]["flags"], spec["block"]["seed"]
        block = bytearray((i * seed + flags) & 0xFF for i in range(236802))
        block[0] = flags
        data += block[:spec.get("block_bytes", len(block))]
    return bytes(data)


kind, out, spec = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
with open(out, "wb") as f:
    f.write(template(spec) if kind == "template" else page(spec))
