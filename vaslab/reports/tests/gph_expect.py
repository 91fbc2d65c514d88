#!/usr/bin/env python3
"""The page pixels a placed picture paints, computed from the format alone:
  gph_expect.py OUT IN.gph X Y MIRROR GAP SOURCE_X SOURCE_ROWS DRAW_W DRAW_H
writes lines "row x colour"."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gph  # noqa: E402

data = open(sys.argv[2], "rb").read()
args = [int(v) for v in sys.argv[3:11]]
with open(sys.argv[1], "w") as f:
    for (row, x), c in sorted(gph.expect(data, *args).items()):
        f.write(f"{row} {x} {c}\n")
