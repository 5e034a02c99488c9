#!/usr/bin/env python3
"""Fails when two fragments of the language library give one string id different texts.

windres lets a later STRINGTABLE entry of the same id replace an earlier one without a warning,
so a subsystem that reuses another's id silently changes that subsystem's text."""
import collections
import glob
import os
import re
import sys

folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
values = {}
for header in glob.glob(os.path.join(folder, '*.h')):
    for m in re.finditer(r'^#define\s+(\w+)\s+(\d+)', open(header, encoding='latin-1').read(), re.M):
        values[m.group(1)] = int(m.group(2))

texts = collections.defaultdict(set)
where = collections.defaultdict(list)
for fragment in glob.glob(os.path.join(folder, '*.rc')):
    source = open(fragment, encoding='latin-1').read()
    for table in re.finditer(r'STRINGTABLE[^\n]*\n\s*BEGIN(.*?)\n\s*END', source, re.S):
        for m in re.finditer(r'^\s*(\w+)\s*,?\s*(L?"(?:[^"]|"")*")', table.group(1), re.M):
            name = m.group(1)
            number = int(name) if name.isdigit() else values.get(name)
            if number is None:
                print(f'{os.path.basename(fragment)}: {name} has no number in the headers')
                sys.exit(1)
            texts[number].add(m.group(2))
            where[number].append(f'{os.path.basename(fragment)}:{name}')

clashes = {n: where[n] for n, t in texts.items() if len(t) > 1}
for number, places in sorted(clashes.items()):
    print(f'string {number} has different texts in {", ".join(places)}')
print(f'{len(texts)} string ids, {len(clashes)} with different texts')
sys.exit(1 if clashes else 0)
