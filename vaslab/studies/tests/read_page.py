#!/usr/bin/env python3
"""Reads a data page from its field table alone, independently of the C++
code: `read_page.py OUT PAGE` writes `name=value` lines to OUT."""
import struct
import sys

out, path = sys.argv[1], sys.argv[2]
with open(path, "rb") as f:
    data = f.read()
(name, flags, count, start, newest, baseline, p1, p2, gain, cutoff, status,
 probe) = struct.unpack_from("<13sBhhhhhhhhHh", data, 0)
ch1 = struct.unpack_from("<2960h", data, 34)
ch2 = struct.unpack_from("<2960h", data, 5954)
short = data[11874:11879].split(b"\0")[0].decode("latin-1")
text = data[11879:12009].split(b"\0")[0].decode("latin-1")
(saved,) = struct.unpack_from("<i", data, 12009)
# The captured window: the samples after the report start up to the newest.
window = [ch1[i] for i in range(max(start + 1, 0), newest + 1)] if 0 <= newest < 2960 else []
fields = {
    "size": len(data), "template": name.split(b"\0")[0].decode("latin-1"), "flags": flags,
    "count": count, "start": start, "newest": newest, "baseline": baseline, "point1": p1,
    "point2": p2, "gain": gain, "cutoff": cutoff, "status": status, "probe": probe,
    "ch1_first": ch1[0], "ch1_newest": ch1[newest] if 0 <= newest < 2960 else 0,
    "ch2_newest": ch2[newest] if 0 <= newest < 2960 else 0,
    "ch1_low": min(window, default=0), "ch1_high": max(window, default=0), "short": short, "text": text, "saved": saved,
}
with open(out, "w") as f:
    for k, v in fields.items():
        f.write(f"{k}={v}\n")
