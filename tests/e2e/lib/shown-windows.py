#!/usr/bin/env python3
# Reads a Wine trace (trace+win,+process) and prints the top-level windows that the named
# programs' main threads made visible: one line each, "class (hwnd) cmd=N". Nothing: none shown.
#   shown-windows.py TRACE PROGRAM.exe
import re
import sys

trace, program = sys.argv[1], sys.argv[2].lower()
threads = set()
created = {}   # tid -> the class of the top-level window being created
top = {}       # hwnd -> class
shown = []
for line in open(trace, encoding="latin-1"):
    m = re.match(r"([0-9a-f]{4}):trace:process:NtCreateUserProcess L\"[^\"]*\\\\([^\\\\\"]+)\" pid [0-9a-f]+ tid ([0-9a-f]+)", line)
    if m and m.group(2).lower() == program:
        threads.add(m.group(3))
        continue
    tid = line[:4]
    if tid not in threads:
        continue
    m = re.search(r"WIN_CreateWindowEx (?:L\"(?:[^\"\\\\]|\\\\.)*\"|\S+) L\"([^\"]*)\" ex=[0-9a-f]+ style=([0-9a-f]+) .* parent=([0-9a-f]+)", line)
    if m:
        style, parent = int(m.group(2), 16), int(m.group(3), 16)
        # Top-level and not a child; the input method's own windows are never seen.
        created[tid] = m.group(1) if parent == 0 and not style & 0x40000000 and m.group(1) != "IME" else None
        if created[tid] and style & 0x10000000:
            shown.append(f"{m.group(1)} (created visible)")
        continue
    m = re.search(r"NtUserCreateWindowEx hwnd (0x[0-9a-f]+) cs", line)
    if m and created.get(tid):
        top[m.group(1)] = created.pop(tid)
        continue
    m = re.search(r"show_window hwnd=(0x[0-9a-f]+), cmd=(\d+)", line)
    if m and m.group(1) in top and m.group(2) != "0":
        shown.append(f"{top[m.group(1)]} ({m.group(1)}) cmd={m.group(2)}")
for s in shown:
    print(s)
