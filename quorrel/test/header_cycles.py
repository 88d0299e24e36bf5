#!/usr/bin/env python3
"""Fails when a public header includes, directly or through others, a header that includes it back.

Usage: header_cycles.py SOURCE_ROOT. Reads the headers below each library's include/ folder and follows
their #include <...> lines that name another header of those folders."""
import os
import re
import sys

root = sys.argv[1]
folders = [os.path.join(root, lib, "include") for lib in ("tav", "http", "quorrel")]
includes = {}
for folder in folders:
    for where, _, files in os.walk(folder):
        for name in files:
            if name.endswith(".hpp"):
                path = os.path.join(where, name)
                with open(path, encoding="utf-8") as text:
                    found = re.findall(r"^\s*#\s*include\s*<([^>]+)>", text.read(), re.M)
                includes[os.path.relpath(path, folder)] = found

cycles = []
state = {}  # 1 while a header's includes are being followed, 2 once they all were


def follow(header, path):
    state[header] = 1
    for included in includes[header]:
        if included not in includes:
            continue
        if state.get(included) == 1:
            cycles.append(" -> ".join(path[path.index(included):] + [included]))
        elif included not in state:
            follow(included, path + [included])
    state[header] = 2


for header in sorted(includes):
    if header not in state:
        follow(header, [header])
for cycle in cycles:
    print("include cycle:", cycle)
print(f"{len(includes)} headers read, {len(cycles)} cycles")
sys.exit(1 if cycles else 0)
