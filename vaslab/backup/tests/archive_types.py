#!/usr/bin/env python3
"""Reads an archive as a site's own tools would: every in-use record of the
database file (checksum checked), with the title of the template its study
type names, and the study's file: its page magic and the caption and name in
its header.  Prints "n|name|type title|file caption|file name|magic" a line;
exits 1 on a bad record.
   archive_types.py DRIVE_C"""
import os
import struct
import sys

c = sys.argv[1]


def text(b):
    return b.split(b"\0")[0].decode("latin-1")


def title(study_type):
    try:
        with open(os.path.join(c, "STUDIES", "%08d.sty" % study_type), "rb") as f:
            rec = f.read(300)
    except OSError:
        return ""
    return text(rec[2:32]) if len(rec) == 300 and rec[0] == 0 else ""


db = open(os.path.join(c, "PROGRAMS", "DB"), "rb").read()
for n in range(len(db) // 86):
    rec = db[n * 86:(n + 1) * 86]
    (stored,) = struct.unpack_from("<H", rec, 84)
    if sum(rec[:84]) & 0xFFFF != stored:
        print(f"bad {n}")
        sys.exit(1)
    if not rec[0] & 1:
        continue
    study_type = rec[83]
    try:
        head = open(os.path.join(c, "ARCHIVE", str(n)), "rb").read(114)
    except OSError:
        head = b""
    magic = "magic" if head[:2] == b"\xfe\x01" else "no magic"
    print("|".join([str(n), text(rec[1:31]), title(study_type) if study_type else "*Unknown*",
                    text(head[2:32]), text(head[32:62]), magic]))
