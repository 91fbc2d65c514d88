#!/usr/bin/env python3
"""Checks a delimited-text export written through the template line

  ~201,~G12,~A12,~S12,~D203YYYY-MM-DD,~T204GG:MM,~202,~P12,~14,~C15,~V15,~P15,~G15 CR LF

against values computed here from the same study files, with the report
model's own reading of the pages and of the pulse amplitude.

  delimited_check.py OUTPUT DATA_DIR STUDIES_DIR EXAM...

The exams are given in batch order.  A patient's line comes where its first
study came; its header values are the first study's, its step values the
last study's.  Exits 1 with the differences.
"""
import csv
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_model as rm  # noqa: E402

GAINS = [[g.strip() for g in row] for row in rm.SCALES[:3]]
SWEEPS = ["1", "2", "5", "10", "25"]


def read(folder, name):
    with open(rm.find(folder, name), "rb") as f:
        return f.read()


def study(data, studies, exam):
    head = read(data, "%d.pdf" % exam)[:4869]
    date = rm.cstr(head, 92, 22).decode("latin-1")
    page = rm.Page(read(data, "1.%d" % exam))
    pressure = rm.Page(read(data, "2.%d" % exam))
    tpl = read(studies, rm.cstr(page.raw, 0, 13).decode("latin-1"))
    rec = tpl[300:600]
    start = rm.s16(rec, 51)
    stored = []
    for h in range(max(0, page.start + 1), page.newest + 1):
        if h >= 2960 or start + len(stored) >= 2960:
            break
        v = page.ch1(h)
        stored.append((255 if v == 256 else 0) if v >= 256 else v & 0xFF)
    pvr = rm.Page(read(data, "3.%d" % exam))
    pvr_rec = tpl[900:1200]
    x = min(pvr.status, 2692)
    volume = x * 1000 // 2692 + (1 if x * 1000 % 2692 > 1345 else 0)
    hour = int(date[11:13]) % 12 + (12 if date[17] == "P" else 0)
    return {
        "name": rm.cstr(head, 32, 30).decode("latin-1"),
        "id": rm.cstr(head, 62, 30).decode("latin-1"),
        "date": "%s-%s-%s" % (date[6:10], date[0:2], date[3:5]),
        "time": "%02d:%s" % (hour, date[14:16]),
        "gain": GAINS[rec[39]][page.gain],
        "amp": rm.Model.amplitude(None, stored, page.filter).decode(),
        "sweep": SWEEPS[page.filter],
        "kind": "DP5" if page.probe == 16 else "DP8",
        "pressure": rm.cstr(pressure.raw, 11874, 4).decode("latin-1").lstrip(" "),
        "c": str(min(pvr.ch2(pvr.newest), 999)),
        "v": str(min(volume, 999)),
        "pvr_gain": GAINS[pvr_rec[51]][pvr.gain],
    }


def main():
    out, data, studies = sys.argv[1:4]
    patients = {}
    order = []
    for exam in map(int, sys.argv[4:]):
        s = study(data, studies, exam)
        if s["name"] not in patients:
            patients[s["name"]] = dict(s)
            order.append(s["name"])
        else:
            first = patients[s["name"]]
            for key in ("gain", "amp", "sweep", "kind", "pressure", "c", "v", "pvr_gain"):
                first[key] = s[key]
    expected = [[p["name"], p["gain"], p["amp"], p["sweep"], p["date"], p["time"], p["id"], p["kind"],
                 p["pressure"], p["c"], p["v"], "PVR", p["pvr_gain"]] for p in (patients[n] for n in order)]
    with open(out, newline="", encoding="latin-1") as f:
        got = list(csv.reader(f))
    if got != expected:
        print("expected", expected, "\ngot     ", got)
        return 1
    raw = open(out, "rb").read()
    if raw.count(b"\r\n") != len(expected) or not raw.endswith(b"\r\n"):
        print("line ends", raw)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
