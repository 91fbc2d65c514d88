#!/usr/bin/env python3
"""Builds the capture stream that the sibling-database export's study calls
must append for the given studies, from the study files and the layouts
alone, and compares it byte for byte with the stream written.

  zelmar_check.py STREAM DATA_DIR STUDIES_DIR EXAM...

The exams are the batch's study calls in order.  Steps load their own page
(the tests' templates link no step to another).  Exit status 0 when the
streams are equal; else the first difference is printed.
"""
import os
import struct
import sys

TESTS = [
    "TOE PRESSURES", "ABI/SEG. PRESS.", "VENOUS REFILL", "CAROTID STUDY", "VENOUS OUTFLOW",
    "DOPPLER WAVEFORM", "TOE WAVEFORM", "FINGER PRESSURES", "PNEUMO WAVEFORM", "FINGER WAVEFORM",
    "SEGMENTAL PRESS.", "PPG WAVEFORM", "VENOUS PPG", "RIGHT COM FEMORAL", "RIGHT SUP FEMORAL",
    "RIGHT POPLITEAL", "RIGHT POST TIBIAL", "RIGHT DORS PEDIS", "LEFT COM FEMORAL",
    "LEFT SUP FEMORAL", "LEFT POPLITEAL", "LEFT POST TIBIAL", "LEFT DORS PEDIS", "RIGHT GREAT TOE",
    "RIGHT TOE 2", "RIGHT TOE 3", "RIGHT TOE 4", "RIGHT TOE 5", "LEFT GREAT TOE", "LEFT TOE 2",
    "LEFT TOE 3", "LEFT TOE 4", "LEFT TOE 5", "RIGHT HIGH THIGH", "RIGHT ABOVE KNEE",
    "RIGHT BELOW KNEE", "RIGHT ANKLE", "RIGHT METATARSAL", "LEFT HIGH THIGH", "LEFT ABOVE KNEE",
    "LEFT BELOW KNEE", "LEFT ANKLE", "LEFT METATARSAL", "RIGHT SUBCLAVIAN", "RIGHT AXILLARY",
    "RIGHT BRACHIAL", "RIGHT RADIAL", "RIGHT ULNAR", "LEFT SUBCLAVIAN", "LEFT AXILLARY",
    "LEFT BRACHIAL", "LEFT RADIAL", "LEFT ULNAR", "RIGHT VEN OUTFLOW", "RIGHT UPPER ARM",
    "RIGHT FOREARM", "RIGHT WRIST", "RIGHT INDEX FING.", "LEFT VEN OUTFLOW", "LEFT UPPER ARM",
    "LEFT FOREARM", "LEFT WRIST", "LEFT INDEX FING.", "RIGHT THUMB", "RIGHT FINGER 2",
    "RIGHT FINGER 3", "RIGHT FINGER 4", "RIGHT FINGER 5", "LEFT THUMB", "LEFT FINGER 2",
    "LEFT FINGER 3", "LEFT FINGER 4", "LEFT FINGER 5", "LOWER ARTERIAL", "LOWER VENOUS",
    "COMBINED STUDY", "RIGHT CAROTID", "GENERAL TESTS", "LEFT CAROTID", "UPPER ARTERIAL",
    "RIGHT VEN. REFILL", "", "LEFT VEN. REFILL", "RIGHT ANKLE D.P.", "RIGHT ANKLE P.T.",
    "LEFT ANKLE D.P.", "LEFT ANKLE P.T.", "POST EX. PRESS.", "RIGHT ANKLE PER.1",
    "LEFT ANKLE PER.1", "RIGHT ANKLE PER.2", "LEFT ANKLE PER.2", "RIGHT ANKLE PER.3",
    "LEFT ANKLE PER.3", "RIGHT ANKLE PER.4", "LEFT ANKLE PER.4", "RIGHT ANKLE PER.5",
    "LEFT ANKLE PER.5", "THORACIC OUTLET", "RIGHT BASELINE", "RIGHT MANEUVER 1",
    "RIGHT MANEUVER 2", "RIGHT MANEUVER 3", "RIGHT MANEUVER 4", "RIGHT MANEUVER 5",
    "LEFT BASELINE", "LEFT MANEUVER 1", "LEFT MANEUVER 2", "LEFT MANEUVER 3", "LEFT MANEUVER 4",
    "LEFT MANEUVER 5", "IMPOTENCE STUDY", "RIGHT PENILE", "LEFT PENILE", "PENILE",
    "RIGHT ANK POST EX", "LEFT ANK POST EX", "PENILE POST EX.", "RIGHT BRA POST EX",
    "LEFT BRA POST EX", "RIGHT PNL POST EX", "LEFT PNL POST EX", "POST EXER. PRS.",
]
PROBES = ["PPG AC       ", "PPG DC       ", "PNEUMO AC    ", "PNEUMO DC    ", "8 MHZ DOPPLER", "5 MHZ DOPPLER"]
PROBE_MAP = [0, 1, 2, 3, 0, 0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 4, 5]
GAINS = ["16 ", "12 ", "8  ", "6  ", "4  ", "3  ", "2  ", "1.5", "1  ", "24 Hz/mm", "32 Hz/mm", "48 Hz/mm",
         "64 Hz/mm", "96 Hz/mm", "128 Hz/mm", "192 Hz/mm", "256 Hz/mm", "384 Hz/mm"]
GAIN_MAP = [8, 8, 8, 7, 6, 5, 4, 3, 2, 1, 0]
SWEEPS = ["25", "10", "5 ", "2 ", "1 ", "1 THEN 25"]
SWEEP_MAP = [4, 3, 2, 1, 0]

# Step type: (row byte offset, gain group offset or None).
WAVEFORM = {1: (210, 51), 5: (194, 37), 6: (198, 39), 8: (211, 51), 9: (195, 37), 12: (199, 37)}
PRESSURE = {2: 60, 11: 55}
TAIL = b"DATE:12/13/94\rTIME:04:38 PM  \rFAC.:Facility\r\r\r"


def find(folder, name):
    for f in os.listdir(folder):
        if f.lower() == name.lower():
            return os.path.join(folder, f)
    return None


def cstr(b):
    return b.split(b"\0", 1)[0]


def remap(table, v):
    return table[v] if 0 <= v < len(table) else 0


def escape(b):
    return b.replace(b"\x0f", b"\x0f\x00")


def line(label, value):
    return escape(label + value + b"\r")


class Batch:
    def __init__(self, data, studies):
        self.data, self.studies = data, studies
        self.groups = {}
        self.slots = [b""] * 70
        self.out = b""

    def study(self, exam):
        head = open(find(self.data, "%d.pdf" % exam), "rb").read(4869)
        name = cstr(head[32:62])
        group = self.groups.setdefault(name, b"%d.pdf" % exam)
        page0 = open(find(self.data, "0.%d" % exam), "rb").read()
        tpl = open(find(self.studies, cstr(page0[0:13]).decode()), "rb").read()
        count = struct.unpack_from("<h", tpl, 32)[0]
        if not self.out:
            self.slots = [b""] * 70
        self.slots[:66] = [b""] * 66
        for step in range(1, count + 1):
            rec = tpl[300 * step:300 * step + 300]
            kind = rec[0]
            if kind == 255:
                break
            path = find(self.data, "%d.%d" % (step, exam))
            if kind not in WAVEFORM and kind not in PRESSURE or path is None:
                continue
            page = open(path, "rb").read(12013)
            start, newest = struct.unpack_from("<hh", page, 16)
            gain, sweep, _, probe = struct.unpack_from("<hhHh", page, 26)
            ch1 = struct.unpack_from("<2960h", page, 34)
            ch2 = struct.unpack_from("<2960h", page, 5954)
            last_ch2 = ch2[newest] if 0 <= newest < 2960 else 0
            if kind in PRESSURE:
                row = rec[PRESSURE[kind]]
                if not 128 <= row <= 197:
                    continue
                text = cstr(page[11874:11879] if kind == 2 else page[11879:12009])
                if not text:
                    text = b"%d" % last_ch2 if -100 < last_ch2 < 1000 else b"***"
                if len(text) > 3 and text[:1] == b" ":
                    text = text[1:]
                self.slots[row - 128] = text[:3].rjust(3)
                continue
            row_off, group_off = WAVEFORM[kind]
            row = rec[row_off]
            if page[13] & 1 or row == 0:
                continue
            run = bytes(255 if v == 256 else 0 if v > 256 else v & 0xFF
                        for v in ch1[max(start + 1, 0):min(newest, 2959) + 1])
            self.out += b"\x0f\x03" + bytes([(gain + 128) & 0xFF]) + escape(run)
            loc = row - 1
            if kind in (1, 8):
                test = 8
            elif kind == 6:
                test = 5
            elif kind == 12:
                test = 2
            else:
                test = 9 if 63 <= loc <= 72 else 6 if 23 <= loc <= 32 else 11
            g = remap(GAIN_MAP, gain) + (9 if rec[group_off] == 1 else 0)
            block = (line(b"I.D.:", group) + line(b"TEST:", TESTS[test].encode()) +
                     line(b"LOC.:", TESTS[loc].encode() if loc < len(TESTS) else b"") +
                     line(b"PRBE:", PROBES[remap(PROBE_MAP, probe)].encode()) +
                     line(b"GAIN:", GAINS[g].encode()) + line(b"SPD.:", SWEEPS[remap(SWEEP_MAP, sweep)].encode()))
            if test == 8:
                block += line(b"PRES:", b"%d" % last_ch2)
            self.out += b"\x0f\x02" + block + TAIL
        self.pressures(group)

    def pressures(self, group):
        s = lambda i: self.slots[i] or b"   "
        def two(labels, pairs, ends):
            return [b"  %s %s %s\r\r" % (s(r), label, s(l)) + (b"\r" if end else b"")
                    for (r, l), label, end in zip(pairs, labels, ends)]
        legs = [(0, 7), (1, 8), (2, 9), (3, 10)]
        names = [b" BRACHIAL ", b"HIGH THIGH", b"ABOVE KNEE", b"BELOW KNEE"]
        if self.slots[4] or self.slots[11]:
            legs.append((4, 11)); names.append(b"  ANKLE   ")
        else:
            legs += [(5, 12), (6, 13)]; names += [b"ANKLE P.T.", b"ANKLE D.P."]
        ends = [True] + [False] * (len(legs) - 2) + [True]
        groups = [(range(0, 14), 1, two(names, legs, ends)),
                  (range(14, 24), 0, two([b"GREAT TOE ", b"  TOE 2   ", b"  TOE 3   ", b"  TOE 4   ", b"  TOE 5   "],
                                         [(14, 19), (15, 20), (16, 21), (17, 22), (18, 23)], [0, 0, 0, 0, 1])),
                  (range(24, 32), 10, two([b"UPPER ARM ", b" FOREARM  ", b"  WRIST   ", b"INDEX FING"],
                                          [(24, 28), (25, 29), (26, 30), (27, 31)], [0, 0, 0, 1])),
                  (range(32, 42), 7, two([b"  THUMB   ", b"INDEX FING", b" FINGER 3 ", b" FINGER 4 ", b" FINGER 5 "],
                                         [(32, 37), (33, 38), (34, 39), (35, 40), (36, 41)], [0, 0, 0, 0, 1])),
                  (range(42, 54), 111, two([b" BRACHIAL ", b"  PENILE  ", b"  ANKLE   ", b"BRA PST EX", b"PNL PST EX",
                                            b"ANK PST EX"], [(42, 48), (43, 49), (44, 50), (45, 51), (46, 52),
                                                             (47, 53)], [0, 0, 0, 0, 0, 1]))]
        if self.slots[66]:
            groups.append((range(54, 70), 122, [b"PER%d  %s   %s  %s\r\r" % (k + 1, s(66 + k), s(55 + k), s(61 + k))
                                                for k in range(4)]))
        else:
            groups.append((range(54, 70), 87,
                           two([b" BRACHIAL "] + [b" ANKLE P%d " % k for k in range(1, 6)],
                               [(54 + k, 60 + k) for k in range(6)], [1, 0, 0, 0, 0, 1])))
        for slots, test, lines in groups:
            if any(self.slots[i] for i in slots):
                self.out += (b"\x0f\x01" + line(b"I.D.:", group) + line(b"TEST:", TESTS[test].encode()) + TAIL +
                             b"RIGHT           LEFT\r\r" + b"".join(lines))


def main():
    stream, data, studies = sys.argv[1:4]
    batch = Batch(data, studies)
    for exam in sys.argv[4:]:
        batch.study(int(exam))
    got = open(stream, "rb").read()
    if got == batch.out:
        return 0
    at = next((i for i, (a, b) in enumerate(zip(got, batch.out)) if a != b), min(len(got), len(batch.out)))
    print("streams differ at byte %d (written %d bytes, expected %d)" % (at, len(got), len(batch.out)))
    print("written:  %r" % got[max(at - 40, 0):at + 40])
    print("expected: %r" % batch.out[max(at - 40, 0):at + 40])
    return 1


if __name__ == "__main__":
    sys.exit(main())
