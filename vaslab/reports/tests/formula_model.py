#!/usr/bin/env python3
"""An independent model of the template formula evaluator, written from its
description alone: tokens, the twelve precedence levels, 16-bit bitwise
operators, the tolerance of every test, min and max, the user and preset
variable tables.  The math functions and the number conversion are the C
library's, called through ctypes, so that domain errors give the same NaNs
and infinities as the program.

  formula_model.py generate COUNT SEED
      prints COUNT generated formulas, one a line as
      "<formula hex> <value as 16 hex digits> <assignment flag>",
      evaluated one after another against one set of variables (reset first).
  formula_model.py eval FORMULA...
      prints the value and flag of each formula.
"""
import ctypes
import ctypes.util
import random
import struct
import sys

LIBM = ctypes.CDLL(ctypes.util.find_library("m"))
LIBC = ctypes.CDLL(ctypes.util.find_library("c"))
for fn in ("exp", "log", "log10", "sqrt", "floor", "ceil", "fabs", "sin", "cos", "tan"):
    getattr(LIBM, fn).restype = ctypes.c_double
    getattr(LIBM, fn).argtypes = [ctypes.c_double]
LIBM.pow.restype = ctypes.c_double
LIBM.pow.argtypes = [ctypes.c_double, ctypes.c_double]
LIBM.fmod.restype = ctypes.c_double
LIBM.fmod.argtypes = [ctypes.c_double, ctypes.c_double]
LIBC.strtod.restype = ctypes.c_double
LIBC.strtod.argtypes = [ctypes.c_char_p, ctypes.c_void_p]

TOL = 2.220446e-16
ONE = {"exp": LIBM.exp, "log": LIBM.log, "log10": LIBM.log10, "sqrt": LIBM.sqrt,
       "floor": LIBM.floor, "ceil": LIBM.ceil, "abs": LIBM.fabs, "sin": LIBM.sin,
       "cos": LIBM.cos, "tan": LIBM.tan}
OPS = b"!%&()*+,-/<=>^|"
MAX_NESTING = 200
sys.setrecursionlimit(100000)


def preset_names():
    names = ["p", "e"]
    tl = "abcdefghijkl"
    az = "abcdefghijklmnopqrstuvwxyz"
    for h in ("c", "g", "m", "n"):
        names += [h + c for c in tl]
    for h in ("m", "n"):
        names += [h + c + "v" for c in tl]
    for h in ("pm", "pn"):
        names += [h + c for c in tl]
    for h in ("pm", "pn"):
        names += [h + c + "v" for c in tl]
    names += ["p" + c for c in az]
    for h in ("s", "v", "w"):
        names += [h + c for c in tl]
    names += ["tp" + c for c in az]
    names += ["tw" + c for c in tl]
    assert len(names) == 222
    return names


class Tables:
    def __init__(self):
        self.reset()

    def reset(self):
        self.preset = [[n, -1.0] for n in preset_names()]
        self.preset[0][1] = 3.141592653589793
        self.preset[1][1] = 2.718281828459045
        self.user = [None] * 400

    def lookup(self, name):
        for row in self.user:
            if row is not None and row[0] == name:
                return row[1]
        for n, v in self.preset:
            if n == name:
                return v
        return None

    def delete(self, name):
        for i, row in enumerate(self.user):
            if row is not None and row[0] == name:
                self.user[i] = None
                return

    def store(self, name, value):
        name = name[:10]
        self.delete(name)
        for i, row in enumerate(self.user):
            if row is None:
                self.user[i] = [name, value]
                return

    def set_preset(self, name, value):
        for row in self.preset:
            if row[0] == name:
                row[1] = value
                return


def is_zero(x):
    return abs(x) < TOL


def int16(x):
    # Truncated toward zero into 64 bits (0 outside), low 16 bits signed.
    if x != x or abs(x) >= 2.0 ** 63:
        i = 0
    else:
        i = int(x)
    i &= 0xFFFF
    return i - 0x10000 if i >= 0x8000 else i


class Stop(Exception):
    pass


class Evaluator:
    def __init__(self, tables, text):
        self.t = tables
        self.s = text
        self.pos = 0
        self.depth = 0
        self.kind = "end"
        self.tok = b""
        self.num = 0.0
        self.next()

    def ch(self, i):
        return self.s[i:i + 1] if i < len(self.s) else b""

    def peek(self):
        return self.ch(self.pos)

    def skip(self):
        while self.peek() in (b" ", b"\t"):
            self.pos += 1

    def next(self):
        while True:
            self.skip()
            c = self.peek()
            if c == b"":
                self.kind, self.tok = "end", b""
                return
            if c in [bytes([o]) for o in OPS]:
                self.kind, self.tok = "op", c
                self.pos += 1
                break
            if c.isdigit() or c == b".":
                start = self.pos
                while self.peek() != b"" and (self.peek().isdigit() or self.peek() == b"."):
                    self.pos += 1
                self.num = LIBC.strtod(self.s[start:self.pos], None)
                self.kind = "num"
                break
            if (b"a" <= c <= b"z") or c == b"_":
                start = self.pos
                while self.peek() != b"" and ((b"a" <= self.peek() <= b"z") or self.peek().isdigit()
                                              or self.peek() == b"_"):
                    self.pos += 1
                self.kind, self.tok = "id", self.s[start:self.pos][:10]
                break
            self.pos += 1
        self.skip()

    def op(self, c):
        return self.kind == "op" and self.tok == c

    def stop(self):
        self.pos = len(self.s)
        self.kind, self.tok = "end", b""

    def statement(self):
        if self.kind == "id" and self.peek() == b"=" and self.ch(self.pos + 1) != b"=":
            name = self.tok.decode()
            self.next()
            self.next()
            if self.kind == "end":
                self.t.delete(name)
                return 0.0, True
            v = self.logical_or()
            self.t.store(name, v)
            return v, True
        return self.logical_or(), False

    def logical_or(self):
        v = self.logical_and()
        while self.op(b"|") and self.peek() == b"|":
            self.next()
            self.next()
            r = self.logical_and()
            v = 0.0 if (is_zero(v) and is_zero(r)) else 1.0
        return v

    def logical_and(self):
        v = self.bit_or()
        while self.op(b"&") and self.peek() == b"&":
            self.next()
            self.next()
            r = self.bit_or()
            v = 1.0 if (not is_zero(v) and not is_zero(r)) else 0.0
        return v

    def bit_or(self):
        v = self.bit_and()
        while self.op(b"|") and self.peek() != b"|":
            self.next()
            r = self.bit_and()
            v = float(int16(int16(v) | int16(r)))
        return v

    def bit_and(self):
        v = self.equality()
        while self.op(b"&") and self.peek() != b"&":
            self.next()
            r = self.equality()
            v = float(int16(int16(v) & int16(r)))
        return v

    def equality(self):
        v = self.order()
        while (self.op(b"=") or self.op(b"!")) and self.peek() == b"=":
            eq = self.op(b"=")
            self.next()
            self.next()
            r = self.order()
            d = abs(v - r)
            v = (1.0 if d < TOL else 0.0) if eq else (1.0 if d > TOL else 0.0)
        return v

    def order(self):
        v = self.sum()
        while self.op(b"<") or self.op(b">"):
            less = self.op(b"<")
            oe = self.peek() == b"="
            self.next()
            if oe:
                self.next()
            r = self.sum()
            if less:
                v = float(v - r < TOL) if oe else float(r - v > TOL)
            else:
                v = float(r - v < TOL) if oe else float(v - r > TOL)
        return v

    def sum(self):
        v = self.product()
        while self.op(b"+") or self.op(b"-"):
            plus = self.op(b"+")
            self.next()
            r = self.product()
            v = v + r if plus else v - r
        return v

    def product(self):
        v = self.power()
        while self.op(b"*") or self.op(b"/") or self.op(b"%"):
            o = self.tok
            self.next()
            r = self.power()
            if o == b"*":
                v = v * r
            elif is_zero(r):
                v = 0.0
            elif o == b"/":
                v = v / r
            else:
                v = LIBM.fmod(v, r)
        return v

    def power(self):
        v = self.unary()
        if self.op(b"^"):
            self.next()
            v = LIBM.pow(v, self.unary())
        return v

    def unary(self):
        if self.op(b"+"):
            self.next()
            return self.primary()
        if self.op(b"-"):
            self.next()
            return -self.primary()
        if self.op(b"!") and self.peek() != b"=":
            self.next()
            return 1.0 if is_zero(self.primary()) else 0.0
        return self.primary()

    def primary(self):
        if self.kind == "end":
            return 0.0
        if self.kind == "num":
            v = self.num
            self.next()
            return v
        nested = self.op(b"(") or (self.kind == "id" and self.peek() == b"(")
        if nested and self.depth >= MAX_NESTING:
            self.stop()
            return 0.0
        if self.op(b"("):
            self.depth += 1
            self.next()
            if self.op(b")"):
                self.next()
            v, _ = self.statement()
            self.next()
            self.depth -= 1
            return v
        if self.kind == "op":
            self.next()
            return 0.0
        if self.peek() == b"(":
            self.depth += 1
            v = self.call()
            self.depth -= 1
            return v
        v = self.t.lookup(self.tok.decode())
        self.next()
        return 0.0 if v is None else v

    def call(self):
        name = self.tok.decode()
        if name not in ONE and name not in ("min", "max"):
            self.stop()
            return 0.0
        self.next()
        args = []
        while True:
            self.next()
            a = 0.0
            if not (self.op(b",") or self.op(b")")):
                a, _ = self.statement()
            args.append(a)
            if not self.op(b","):
                break
        self.next()
        if name in ONE:
            return ONE[name](args[-1])
        args = args[:10]
        return fmin(args) if name == "min" else fmax(args)


def fmin(vals):
    r = vals[0]
    for v in vals[1:]:
        if v - r < TOL:
            r = v
    return r


def fmax(vals):
    r = vals[0]
    for v in vals[1:]:
        if r - v < TOL:
            r = v
    return r


def evaluate(tables, raw):
    # Lower-cased as the C library does in its default locale: A to Z only.
    text = bytes((c + 32 if 65 <= c <= 90 else c) for c in raw.split(b"\0")[0])
    e = Evaluator(tables, text)
    if e.kind == "end":
        return 0.0, False
    v, flag = e.statement()
    return v, flag


PIECES = ["1", "2", "3", "0", "0.5", "1.5.2", ".", "12345678901234567890123", "65535", "32768", "2.9",
          "1e5", "a", "b", "x1", "abcdefghijkl", "abcdefghij", "p", "e", "ca", "pz", "twl", "zz", "_u",
          "A", "P", "TM", "max(", "min(", "sqrt(", "log(", "exp(", "foo(", "abs(", "tan(", "floor(",
          "ceil(", "log10(", "sin(", "cos(", "(", ")", ",", "+", "-", "*", "/", "%", "^", "!", "&", "|",
          "&&", "||", "==", "!=", "<", "<=", ">", ">=", "=", " ", "\t", "#", "$", "@", "~", "\x01",
          "\xe9", "1000", "-7", "1/0", "0%0", "9" * 40, "." * 3, "a=", "b=", "()", "((", "))"]


def generate(rng):
    kind = rng.random()
    if kind < 0.08:  # a deep nest within a field
        n = rng.randint(1, 260)
        return "(" * n + rng.choice(["1", "a", "2+3"]) + ")" * rng.randint(0, n)
    if kind < 0.12:  # a long run of one character
        return rng.choice(["9", ".", "a", "(", "-", "!", "x"]) * rng.randint(20, 300)
    n = rng.randint(0, 14)
    s = "".join(rng.choice(PIECES) for _ in range(n))
    if rng.random() < 0.3:
        s = rng.choice(["a", "b", "c1", "x", "abcdefghijkl", "pa", "v"]) + rng.choice(["=", " = ", "="]) + s
    return s


def main():
    if sys.argv[1] == "generate":
        count, seed = int(sys.argv[2]), int(sys.argv[3])
        rng = random.Random(seed)
        t = Tables()
        out = []
        for i in range(count):
            if i % 997 == 0:
                t.reset()
            raw = generate(rng).encode("latin-1")
            v, flag = evaluate(t, raw)
            out.append("%s %s %d" % (raw.hex() or "-", struct.pack("<d", v).hex(), int(flag)))
        sys.stdout.write("\n".join(out) + "\n")
    else:
        t = Tables()
        for f in sys.argv[2:]:
            v, flag = evaluate(t, f.encode("latin-1"))
            print(repr(v), int(flag))


if __name__ == "__main__":
    main()
