#!/usr/bin/env python3
"""An independent model of the report generator, written from the record
layouts and the description of the sections alone: it reads a temporary
study's page description header, its data pages and its template, and
writes the page description the generator must produce.

  report_model.py DATA_DIR STUDIES_DIR EXAM OUT

It covers the steps that report their own pages (reference step 0): PVR,
waveform and Doppler traces (with the waveform block), single and dual
pressures, texts (value or text with a one-conversion format), pictures,
formula steps, lines and the end record.  Formulas go through
formula_model.py.
"""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import formula_model as fm  # noqa: E402

HEADER = 4869
PAGE = 12013
BLOCK = 236802
SCALES = [
    [".50", ".75", "  1", "1.5", "  2", "  3", "  4", "  6", "  8", " 12", " 16"],
    ["768", "512", "384", "256", "192", "128", " 96", " 64", " 48", " 32", " 24"],
    ["   6", "   4", "   3", "   2", " 1.5", "   1", " .75", "  .5", ".375", " .25", ".188"],
    ["244", "N/A", "122", "N/A", " 61", "N/A", " 30", "N/A", " 15", "N/A", "7.6"],
]
CUTOFFS = [" 1", " 2", " 5", "10", "25"]
FACTORS = [150, 75, 30, 15, 6]


def find(folder, name):
    for f in sorted(os.listdir(folder)):
        if f.lower() == name.lower():
            return os.path.join(folder, f)
    return None


def s16(b, o):
    return struct.unpack_from("<h", b, o)[0]


def cstr(b, o, n):
    raw = bytes(b[o:o + n])
    return raw.split(b"\0")[0]


class Page:
    def __init__(self, raw):
        self.raw = raw[:PAGE]
        self.flags = raw[13]
        self.count, self.start, self.newest, self.baseline, self.p1, self.p2, self.gain, \
            self.filter, self.status, self.probe = struct.unpack_from("<hhhhhhhhHh", raw, 14)
        self.save = struct.unpack_from("<i", raw, 12009)[0]
        self.block = raw[PAGE:PAGE + BLOCK] if (self.flags & 2) and len(raw) >= PAGE + BLOCK else None

    def ch1(self, i):
        return s16(self.raw, 34 + 2 * i) if 0 <= i < 2960 else 0

    def ch2(self, i):
        return s16(self.raw, 5954 + 2 * i) if 0 <= i < 2960 else 0


class Model:
    def __init__(self, data, studies, exam):
        self.data, self.studies, self.exam = data, studies, exam
        self.t = fm.Tables()
        self.header = bytearray(open(find(data, "%d.pdf" % exam), "rb").read()[:HEADER])
        self.header[245:4868] = bytes(4868 - 245)
        p0 = find(data, "0.%d" % exam)
        raw0 = open(p0, "rb").read() if p0 else b""
        self.start = struct.unpack_from("<i", raw0, 12009)[0] if len(raw0) >= PAGE else 0
        self.items, self.pool, self.graphics, self.lines = [], bytearray(), [], []
        self.labels = 0
        self.waveform = False
        self.wcount = 0
        self.wblock = bytearray(236800)

    def formula(self, rec, off, width):
        return fm.evaluate(self.t, bytes(rec[off:off + width]))[0]

    def setvar(self, name, value, formula=None):
        if formula is not None:
            value = fm.evaluate(self.t, formula.encode("latin-1"))[0] if formula else value
        self.t.set_preset(name, value)

    def text_item(self, x, y, attr, text):
        self.items.append(struct.pack("<hhBh", x, y, attr & 0xFF, len(self.pool)))
        self.pool += text + b"\0"

    def page(self, step):
        path = find(self.data, "%d.%d" % (step, self.exam))
        if not path:
            return None
        raw = open(path, "rb").read()
        if len(raw) < PAGE:
            return None
        p = Page(raw)
        if p.flags & 2 and len(raw) > PAGE and len(raw) < PAGE + BLOCK:
            return None
        if p.block is not None:
            self.waveform = True
        return p

    def step_time(self, p):
        if self.start == 0 or p.save == 0:
            return 0
        f = FACTORS[p.filter] if 0 <= p.filter < 5 else 0
        b = (p.count - p.newest - 1) * f
        q, r = int(b / 592), b - int(b / 592) * 592
        return p.save - (q + (1 if r > 296 else 0)) - self.start

    def trace(self, typ, rec, p):
        if p.flags & 1 or not (65 <= rec[32] < 77):
            return
        pvr, dop = typ in (1, 8), typ == 6
        scale, gain, flags, start, l1, l2 = (51, 53, 55, 61, 63, 135) if pvr else \
            (39, 41, 43, 51, 53, 125) if dop else (37, 39, 41, 47, 49, 121)
        k = rec[32] - 65
        x, y, st = s16(rec, 33), s16(rec, 35), s16(rec, start)
        n = 0
        tflags = rec[flags]
        for h in range(max(0, p.start + 1), p.newest + 1):
            if h >= 2960 or st + n >= 2960 or st < 0:
                break
            v = p.ch1(h)
            t = st + n
            if v >= 256:
                self.header[1261 + t] = 255 if v == 256 else 0
                self.header[4221 + t // 8] |= 0x80 >> (t % 8)
            else:
                self.header[1261 + t] = v & 0xFF
            if dop and p.block is not None:
                self.wblock[t] = p.block[2 + h]
                self.wblock[2960 + t] = p.block[2962 + h]
                self.wblock[5920 + 78 * t:5920 + 78 * t + 78] = p.block[5922 + 78 * h:5922 + 78 * h + 78]
            n += 1
        if dop and p.block is not None:
            b0 = p.block[0]
            tflags |= (0x80 if b0 & 1 else 0) | (0x40 if b0 & 2 else 0) | (0x10 if b0 & 4 else 0) | \
                (0x20 if not b0 & 0x10 else 0)
            self.waveform = True
            self.wcount = 1
        row = rec[scale]
        if dop:
            row = 3 if (p.block is not None and row == 1) else 1 if (p.block is None and row == 3) else row
        samples = self.header[1261 + st:1261 + st + n]
        offs = []
        for lo in (l1, l2):
            label = self.label(cstr(rec, lo, 72), rec, p, pvr, dop, row, gain, samples)
            room = 800 - self.labels
            off = self.labels
            if room <= 0:
                offs.append(799)
                continue
            label = label[:room - 1]
            self.header[461 + off:461 + off + len(label) + 1] = label + b"\0"
            self.labels += len(label) + 1
            offs.append(off)
        struct.pack_into("<hhhhBBhhhh", self.header, 245 + 18 * k, x, y, st, n, p.baseline & 0xFF, tflags,
                         p.p1, p.p2, offs[0], offs[1])
        c = chr(k + 97)
        if pvr:
            self.setvar("c" + c, p.ch2(p.newest))
            self.setvar("v" + c, p.status)
        scale_text = SCALES[row][p.gain] if 0 <= row < 4 and 0 <= p.gain < 11 else ""
        self.setvar("g" + c, 0, scale_text)
        self.setvar("s" + c, 0, CUTOFFS[p.filter] if 0 <= p.filter < 5 else "")
        self.setvar("w" + c, n)
        if p.p1 >= 0:
            self.setvar("m" + c, p.p1)
            self.setvar("m" + c + "v", p.ch1(p.p1))
        if p.p2 >= 0:
            self.setvar("n" + c, p.p2)
            self.setvar("n" + c + "v", p.ch1(p.p2))
        self.setvar("tw" + c, self.step_time(p))

    def label(self, text, rec, p, pvr, dop, row, gain_at, samples):
        out = bytearray()
        colour = 7

        def three(v, lo, hi):
            v = min(max(v, 0), 999)
            t = ("%3d" % v).encode()
            return (bytes([6]) + t + bytes([colour])) if (v < lo or v > hi) else t
        for b in text:
            if 1 <= b <= 7:
                colour = b
                out.append(b)
            elif b == 9:
                st = (SCALES[row][p.gain] if 0 <= row < 4 and 0 <= p.gain < 11 else "").encode()
                if p.gain != rec[gain_at]:
                    st = bytes([6]) + st + bytes([colour])
                out += st
                if pvr and row == 2:
                    out += b" mmHg/20mm"
                if dop and row == 1:
                    out += b" Hz/mm"
            elif b == 10 and pvr:
                out += three(p.ch2(p.newest), s16(rec, 40), s16(rec, 42))
            elif b == 11:
                out += (CUTOFFS[p.filter] if 0 <= p.filter < 5 else "").encode()
            elif b == 12 and pvr:
                st = min(p.status, 2692)
                v = st * 1000 // 2692 + (1 if st * 1000 % 2692 > 1347 else 0)
                out += three(min(v, 999), s16(rec, 44), s16(rec, 46))
            elif b == 13 and dop:
                out += b"5" if p.probe == 16 else b"4" if p.probe == 19 else b"8"
            elif b == 14:
                out += self.amplitude(samples, p.filter)
            else:
                out.append(b)
        return bytes(out)

    def amplitude(self, s, cutoff):
        d = {2: 15, 3: 30, 4: 75}.get(cutoff, 0)
        if d == 0 or len(s) < 3 * d:
            return b"**"
        peak_at = d
        for i in range(d, len(s)):
            if s[i] > s[peak_at]:
                peak_at = i
        peak = small = s[peak_at]
        rises = 0
        for i in range(peak_at - 1, -1, -1):
            v = s[i]
            if v > peak:
                break
            if v > small:
                rises += 1
                if rises >= d // 3:
                    break
            elif v < small:
                small, rises = v, 0
        x = (peak - small) * 5
        return ("%02d" % (x // 32 + (1 if x % 32 > 15 else 0))).encode()[:2]

    def pressure(self, typ, rec, p):
        if p.flags & 1 or not (65 <= rec[32] < 91):
            return
        k = rec[32] - 65
        own = cstr(p.raw, 11874, 4)
        if own:
            text = own
        else:
            v = p.ch2(p.newest)
            text = b"***" if (v > 999 or v < -999) else str(v).encode()
        struct.pack_into("<hhB5s", self.header, 4591 + 10 * k, s16(rec, 33), s16(rec, 35), rec[37], text)
        c = chr(k + 97)
        src = cstr(p.raw, 11879, 130) if (typ == 11 and rec[37] & 0x20) else text
        self.setvar("p" + c, 0, src.decode("latin-1"))
        self.setvar("tp" + c, self.step_time(p))
        if typ == 11:
            self.setvar("pm" + c, p.p1)
            self.setvar("pn" + c, p.p2)
            if p.p1 >= 0:
                self.setvar("pm" + c + "v", p.ch1(p.p1))
            if p.p2 >= 0:
                self.setvar("pn" + c + "v", p.ch1(p.p2))

    def text(self, rec):
        if fm.is_zero(self.formula(rec, 37, 80)):
            return
        size = max(0, min(7, trunc(self.formula(rec, 117, 80))))
        attr = (size * 4 + rec[36]) & 0xFF
        fmt = cstr(rec, 278, 10).decode("latin-1")
        if rec[197]:
            text = one_conversion(fmt, self.formula(rec, 198, 80))
        else:
            text = one_conversion(fmt, cstr(rec, 198, 80)[:79].decode("latin-1"))
        text = text.encode("latin-1")[:143]
        x, w = s16(rec, 32), len(text) * {1: 25, 2: 18}.get(attr & 3, 30)
        if rec[288] == 1:
            x = max(0, x - w)
        elif rec[288] == 2:
            x = max(0, x - w // 2)
        self.text_item(x, s16(rec, 34), attr, text)

    def picture(self, rec):
        if fm.is_zero(self.formula(rec, 65, 80)):
            return
        assert rec[52] == 0
        name = bytearray(rec[36:49])
        name[12] = 0
        self.graphics.append(struct.pack("<hh4s13sBhhhhhhh", s16(rec, 32), s16(rec, 34), bytes(4), bytes(name),
                                         rec[49], s16(rec, 50), *[s16(rec, o) for o in (53, 55, 57, 59, 61, 63)]))

    def line_items(self, rec):
        if fm.is_zero(self.formula(rec, 32, 21)):
            return
        for wat, cat, sym, clip, co in ((53, 59, 65, 66, 74), (174, 180, 186, 187, 195)):
            if not cstr(rec, co, 25):
                continue
            w = max(1, min(5, trunc(self.formula(rec, wat, 6))))
            c = max(0, min(7, trunc(self.formula(rec, cat, 6))))
            xy = [fm.int16(self.formula(rec, co + 25 * i, 25)) for i in range(4)]
            clips = [s16(rec, clip + 2 * i) for i in range(4)]
            self.lines.append(struct.pack("<8hBB", *xy, *clips, w * 16 + c, rec[sym]))

    def run(self):
        first = sorted(f for f in os.listdir(self.data) if f.lower().endswith(".%d" % self.exam))[0]
        tname = cstr(open(os.path.join(self.data, first), "rb").read(), 0, 13).decode()
        tpl = open(find(self.studies, tname), "rb").read()
        steps = max(0, min(200, s16(tpl, 32)))
        for s in range(1, steps + 1):
            rec = bytearray(tpl[300 * s:300 * s + 300])
            typ = rec[0]
            if typ == 255:
                self.header[4867:4869] = rec[295:297]
                break
            if typ == 7:
                for off, w in ((32, 81), (113, 80), (193, 105)):
                    self.formula(rec, off, w)
            elif typ in (1, 5, 6, 8, 9, 12):
                p = self.page(s)
                if p:
                    self.trace(typ, rec, p)
            elif typ in (2, 11):
                p = self.page(s)
                if p:
                    self.pressure(typ, rec, p)
            elif typ == 3:
                self.text(rec)
            elif typ == 4:
                self.picture(rec)
            elif typ == 20:
                self.line_items(rec)
            else:
                raise SystemExit("type %d is not modelled" % typ)
        return self.assemble()

    def assemble(self):
        h = self.header
        h[0:2] = b"\xfe\x01"
        go = HEADER + 7 * len(self.items) + len(self.pool)
        first_link = go + 36 * len(self.graphics)
        struct.pack_into("<ihihi", h, 4851, HEADER, len(self.items), go, len(self.graphics), first_link)
        out = bytearray(h) + b"".join(self.items) + self.pool + b"".join(self.graphics)
        if self.waveform:
            out += struct.pack("<BBhi", 2, 0, self.wcount, len(out) + 8 + 236800) + self.wblock
        if self.lines:
            out += struct.pack("<BBhi", 1, 0, len(self.lines), len(out) + 8 + 18 * len(self.lines))
            out += b"".join(self.lines)
        out += struct.pack("<BBhi", 0, 0, 0, len(out) + 8)
        return bytes(out)


def trunc(x):
    return 0 if (x != x or abs(x) >= 2.0 ** 63) else int(x)


def one_conversion(fmt, value):
    """The first conversion of the fitting class, with flags, width and precision."""
    m = re.search(r"%([-+ #0]*)(\d*)(\.\d*)?([a-zA-Z])", fmt)
    if not m:
        return fmt
    spec = "%" + m.group(1) + m.group(2) + (m.group(3) or "") + m.group(4)
    return fmt[:m.start()] + (spec % value) + fmt[m.end():]


def main():
    data, studies, exam, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    with open(out, "wb") as f:
        f.write(Model(data, studies, exam).run())


if __name__ == "__main__":
    main()
