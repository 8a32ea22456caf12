#!/usr/bin/env python3
"""Compares the wizard window that windump saw with the layout table at a density.

    layout-check.py REPO DPI DUMP-FILE

The rows are read from the source (src/wizard/Layout.cpp and Layout.h, the first control id
from src/wizard/win32/SetupWindow.h), not from the program: the client area and each control
must be its row times DPI/96 within a pixel; a word-wrapped label may be higher. Prints one line
per fault and exits 1 when there is any. (Fonts and whole texts are looked at in the program's
own process, by the window tests: another process cannot read a window's font.)
"""
import re
import sys

repo, dpi, dump_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
scale = dpi / 96.0


def read(path):
    with open(f"{repo}/{path}", encoding="utf-8") as f:
        return f.read()


consts = {m[0]: int(m[1]) for m in re.findall(r"constexpr int (\w+) = (\d+);", read("src/wizard/Layout.h"))}
first_id = int(re.search(r"kFirstSetupControlId = (\d+);", read("src/wizard/win32/SetupWindow.h"))[1])
num = r"(-?\d+|k\w+)"
row_re = re.compile(r'\{"(\w+)", K::(\w+), (-?\d+), (nullptr|"\w+"), ' + ", ".join([num] * 4) + r", (-?\d+),")
rows = []
for m in row_re.finditer(read("src/wizard/Layout.cpp")):
    name, kind, page, parent = m[1], m[2], int(m[3]), None if m[4] == "nullptr" else m[4].strip('"')
    x, y, w, h = (consts[v] if v in consts else int(v) for v in m.groups()[4:8])
    rows.append(dict(name=name, kind=kind, page=page, parent=parent, x=x, y=y, w=w, h=h, font=int(m[9])))
by_name = {r["name"]: r for r in rows}
declared = len(re.findall(r'^\s*\{"\w+", K::', read("src/wizard/Layout.cpp"), re.M))
if not rows or len(rows) != declared:
    print(f"read {len(rows)} of the {declared} layout rows: the table's form has changed")
    sys.exit(1)
flags_re = re.compile(r'\{"(\w+)", K::\w+,[^}]*?(lfWordWrap|\bWW\b)')
wrapped = {m[1] for m in flags_re.finditer(read("src/wizard/Layout.cpp"))}

# windump: depth|class|text|vis=|en=|rect=x,y,w,h|id=N extras; a text's own | is escaped.
lines = []
with open(dump_file, encoding="utf-8", errors="replace") as f:
    for raw in f:
        parts = re.split(r"(?<!\\)\|", raw.rstrip("\n"))
        if len(parts) < 7:
            continue
        rect = [int(v) for v in parts[5][len("rect="):].split(",")]
        extra = parts[6].split(" ")
        fields = dict(e.split("=", 1) for e in extra if "=" in e)
        lines.append(dict(depth=int(parts[0]), cls=parts[1], text=parts[2], vis=parts[3] == "vis=1", rect=rect, **fields))

faults = []
top = next((l for l in lines if l["depth"] == 0 and l["cls"] == "TFrm_Setup"), None)
if top is None:
    print("no TFrm_Setup window in the dump")
    sys.exit(1)
children = lines[lines.index(top) + 1:]
children = children[:next((i for i, l in enumerate(children) if l["depth"] == 0), len(children))]
by_id = {int(l["id"]): l for l in children}
cx, cy, cw, ch = (int(v) for v in top["client"].split(","))


def near(actual, design, what, name):
    if abs(actual - design * scale) > 1:
        faults.append(f"{name}: {what} {actual}, the layout's {design} x {scale:g} is {design * scale:g}")


near(cw, consts["kWizardClientWidth"], "client width", "window")
near(ch, consts["kWizardClientHeight"], "client height", "window")
next_button = by_id.get(first_id + rows.index(by_name["bNext"]))
if next_button:
    nx, ny, nw, nh = next_button["rect"]
    print(f"client area {cw} x {ch}; Next at {nx - cx},{ny - cy}, {nw} x {nh}")

for index, row in enumerate(rows):
    name, kind = row["name"], row["kind"]
    if kind in ("Window", "Picture"):
        continue
    line = by_id.get(first_id + index)
    if line is None:
        faults.append(f"{name}: no window with id {first_id + index}")
        continue
    x, y = row["x"], row["y"]
    if row["parent"]:
        x += by_name[row["parent"]]["x"]
        y += by_name[row["parent"]]["y"]
    if row["page"] >= 0 and kind != "Page":
        page = by_id[first_id + rows.index(by_name[f"nPage{row['page']}"])]
        ox, oy = page["rect"][0], page["rect"][1]
    else:
        ox, oy = cx, cy
    lx, ly, lw, lh = line["rect"]
    near(lx - ox, x, "left", name)
    near(ly - oy, y, "top", name)
    if row["w"]:
        near(lw, row["w"], "width", name)
    if row["h"] and name in wrapped:
        if lh < row["h"] * scale - 1:
            faults.append(f"{name}: height {lh}, less than the layout's {row['h']} x {scale:g}")
    elif row["h"]:
        near(lh, row["h"], "height", name)

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
