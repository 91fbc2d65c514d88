#!/usr/bin/env python3
"""Reference spans for the pattern engine's tests, from Python's re.

Reads lines "pattern<TAB>subject" and writes for each either "-" (no match)
or the start and end of the whole match and each group, blank-separated.
The engine's syntax is translated to Python's here, independently of the
engine's own compiler."""
import re
import sys


def translate(p):
    out = []
    i = 0
    n = len(p)
    while i < n:
        c = p[i]
        if c == '\\' and i + 1 < n:
            d = p[i + 1]
            i += 2
            if d == '(':
                out.append('(')
            elif d == ')':
                out.append(')')
            elif d.isdigit():
                out.append('(?:\\' + d + ')')
            elif d == '<':
                out.append(r'\b(?=\w)')
            elif d == '>':
                out.append(r'\b(?<=\w)')
            else:
                out.append(re.escape(d))
            continue
        if c == '[':
            i += 1
            neg = False
            if i < n and p[i] == '^':
                neg = True
                i += 1
            members = set()
            if i < n and p[i] in '-]':
                members.add(p[i])
                i += 1
            prev = p[i - 1]
            while i < n and p[i] != ']':
                if p[i] == '-' and i + 1 < n and p[i + 1] != ']':
                    for k in range(ord(prev) + 1, ord(p[i + 1]) + 1):
                        members.add(chr(k))
                    prev = p[i + 1]
                    i += 2
                else:
                    prev = p[i]
                    members.add(p[i])
                    i += 1
            i += 1
            body = ''.join(re.escape(m) for m in sorted(members))
            out.append('[' + ('^' if neg else '') + body + ']')
            continue
        if c == '^' and i == 0:
            out.append('^')
        elif c == '$' and i == n - 1:
            out.append(r'\Z')
        elif c == '.':
            out.append('.')
        elif c in '*+':
            out.append(c)
        else:
            out.append(re.escape(c))
        i += 1
    return ''.join(out)


def main():
    with open(sys.argv[1], encoding='ascii') as f, open(sys.argv[2], 'w') as o:
        for line in f:
            pat, subj = line.rstrip('\n').split('\t')
            m = re.search(translate(pat), subj, re.DOTALL)
            if not m:
                o.write('-\n')
                continue
            spans = []
            for g in range(0, (m.re.groups or 0) + 1):
                s, e = m.span(g)
                spans += [str(s), str(e)]
            o.write(' '.join(spans) + '\n')


main()
