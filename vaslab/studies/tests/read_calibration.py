#!/usr/bin/env python3
"""Reads the calibration fields of a settings file from their offsets alone,
independently of the C++ code: `read_calibration.py OUT SETTINGS` writes
`name=value` lines to OUT."""
import struct
import sys

out, path = sys.argv[1], sys.argv[2]
with open(path, "rb") as f:
    data = f.read()
(x_offset, x_scale, y_offset, y_scale, extra) = struct.unpack_from("<5h", data, 2)
(r_offset, r_span, l_offset, l_span) = struct.unpack_from("<4B", data, 12)
fields = {
    "size": len(data), "touch": f"{x_offset} {x_scale} {y_offset} {y_scale} {extra}",
    "pressure": f"{r_offset} {r_span} {l_offset} {l_span}",
}
with open(out, "w") as f:
    for k, v in fields.items():
        f.write(f"{k}={v}\n")
