#!/usr/bin/env python3
"""Generated cases for the archive search's pattern matching, judged by
fnmatch on upper-cased text (a pattern without "*" gets one appended, so that
it matches as a prefix; "[" is escaped, as it is an ordinary character here).
Writes lines "text<TAB>pattern<TAB>0|1" to the file named by argv[1]."""
import fnmatch
import random
import sys

rng = random.Random(22)
with open(sys.argv[1], "w") as out:
    for _ in range(4000):
        text = "".join(rng.choice("ABab[") for _ in range(rng.randint(0, 7)))
        pattern = "".join(rng.choice("ABab?*[") for _ in range(rng.randint(0, 6)))
        oracle = pattern.upper().replace("[", "[[]")
        if "*" not in pattern:
            oracle += "*"
        expected = fnmatch.fnmatchcase(text.upper(), oracle)
        out.write(f"{text}\t{pattern}\t{int(expected)}\n")
