#!/usr/bin/env bash
# The preview against the real window: one setup (the example, every page shown) drawn by
# 'gbsetup preview --rows' on Linux and walked under Wine, page by page. On each page every
# control the window shows with a text (labels, buttons, edits, the group box) and every list
# and progress bar must be a row of the preview with the same text and rectangle; a label
# sized to its text or wrapped may differ by its font's few pixels in width and height.
# The progress page passes too quickly to be read; the others are compared.
#   tests/e2e/wine-preview.sh   (after scripts/build.sh)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
stubs="$win_data"
dump_exe="$win_build/tests/e2e/tools/windump.exe"
hello_exe="$win_build/examples/hello/Hello.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$dump_exe" "$hello_exe"
command -v xdotool >/dev/null || { echo "wine-preview: xdotool is missing (scripts/install-deps.sh)" >&2; exit 1; }

win_workdir "/tmp/gbsetup-wine-preview.XXXXXX"
echo "wine-preview: $win_arch stubs under $win_arch Wine"

# The example with its program, details shown and every finish row offered.
cp -r examples/hello "$work/hello"
cp "$hello_exe" "$work/hello/app/Hello.exe"
python3 - "$work/hello/hello.json" <<'PY'
import json, sys
j = json.load(open(sys.argv[1], encoding="utf-8"))
j["pages"]["安装进程"]["显示详细内容"] = "是"
j["pages"]["安装完毕"]["显示创建快速启动栏选项"] = "是"
json.dump(j, open(sys.argv[1], "w", encoding="utf-8"), ensure_ascii=False)
PY
"$gbsetup" --data "$stubs" build "$work/hello/hello.json" --output "$work/out" --arch "$win_setup_arch" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "wine-preview: building the setup failed" >&2; exit 1; }
setup="$work/out/Hello 示例.exe"
"$gbsetup" preview "$setup" --output "$work/preview" --rows >"$work/rows.txt" 2>"$work/preview.err"
check "the preview of the setup" test $? = 0 -a -s "$work/rows.txt"

wine_start
wine_display 160 169
screen() { wine_run "$dump_exe" TFrm_Setup 2>/dev/null | tr -d '\r'; }
# The page shown now, by the caption of the visible notebook page.
current_page() { awk -F'|' '$2 == "TFrm_Setup.Page" && $4 == "vis=1" { print $3; exit }' "$1"; }
centre_of() {  # the centre of the visible button with that text, in screen coordinates
  awk -F'|' -v t="$1" '$2 == "Button" && $3 == t && $4 == "vis=1" { split(substr($6, 6), r, ","); print int(r[1] + r[3] / 2), int(r[2] + r[4] / 2); exit }' "$2"
}

( cd "$work/out" && wine_run "Hello 示例.exe" x ) >/dev/null 2>&1 &
setup_pid=$!
for i in $(seq 1 120); do
  screen >"$work/now.txt"
  [ -n "$(current_page "$work/now.txt")" ] && break
  sleep 0.5
done
check "the wizard appears" test -n "$(current_page "$work/now.txt")"

# Walks with Next (我同意 on the licence page) and keeps each page's listing, up to the
# confirmation page; Next there installs, and the finish page is read when it comes.
captions=(欢迎 安装协议 软件使用说明 选择程序文件夹 选择安装组件 选择安装文件夹 确认安装 安装进程 安装完成)
index_of() { local i; for i in "${!captions[@]}"; do [ "${captions[$i]}" = "$1" ] && echo "$i"; done; }
for step in $(seq 1 12); do
  page="$(current_page "$work/now.txt")"
  [ -n "$page" ] || break
  n="$(index_of "$page")"
  cp "$work/now.txt" "$work/wine-$n.txt"
  [ "$n" = 8 ] && break
  xy="$(centre_of '下一步(&N)->' "$work/now.txt")"
  [ -n "$xy" ] || xy="$(centre_of '我同意' "$work/now.txt")"
  [ -n "$xy" ] || break
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
  for i in $(seq 1 120); do
    sleep 0.5
    screen >"$work/now.txt"
    p="$(current_page "$work/now.txt")"
    [ -n "$p" ] && [ "$p" != "$page" ] && [ "$p" != 安装进程 ] && break
  done
done
check "the walk reached the finish page" test -f "$work/wine-8.txt"
wine_run taskkill /f /im "Hello 示例.exe" >/dev/null 2>&1
wait "$setup_pid" 2>/dev/null

# The comparison, page by page.
python3 - "$work" <<'PY' >"$work/compare.txt"
import glob, os, re, sys
work = sys.argv[1]
rows = {}
for line in open(os.path.join(work, "rows.txt"), encoding="utf-8"):
    f = line.rstrip("\n").split("\t", 6)
    if len(f) < 7:
        continue
    page, name, kind, shown, sized, rect, text = f
    rows.setdefault(int(page), []).append(dict(name=name, kind=kind, shown=shown == "1", sized=sized == "1",
                                                rect=[int(v) for v in rect.split(",")], text=text))
by_class = {"ListBox": ("list", "details"), "SysListView32": ("checklist", "reportlist"), "msctls_progress32": ("progress",)}
for path in sorted(glob.glob(os.path.join(work, "wine-*.txt"))):
    n = int(re.search(r"wine-(\d+)", path).group(1))
    lines = [l.rstrip("\n").split("|") for l in open(path, encoding="utf-8", errors="replace")]
    origin = next((l for l in lines if len(l) > 5 and l[1] == "TFrm_Setup.Page" and l[3] == "vis=1"), None)
    if origin is None:
        print(f"FAIL page {n + 1}: no visible page in the listing")
        continue
    ox, oy = [int(v) for v in origin[5][5:].split(",")[:2]]
    compared = 0
    for l in lines:
        if len(l) < 7 or l[0] == "0" or l[3] != "vis=1" or l[1] in ("TFrm_Setup.Page", "ScrollBar"):
            continue
        cls, text = l[1], l[2].replace("\\|", "|")
        x, y, w, h = [int(v) for v in l[5][5:].split(",")]
        rect = [x - ox, y - oy, w, h]
        if cls in by_class:
            cands = [r for r in rows.get(n, []) if r["kind"] in by_class[cls] and r["shown"]]
        elif text and cls in ("Static", "Button", "Edit"):
            cands = [r for r in rows.get(n, []) if r["shown"] and r["text"] == text]
            # The free space is the machine's own: only its place is compared.
            if not cands and re.fullmatch(r"-?[0-9.]+ [KMG]B", text):
                cands = [r for r in rows.get(n, []) if r["name"] == "lDrvSize"]
        else:
            continue
        if not cands:
            print(f"FAIL page {n + 1}: the window's {cls} \"{text}\" is not in the preview")
            continue
        def near(r):
            slack = 8 if r["kind"] in ("label", "link") else 0
            return r["rect"][:2] == rect[:2] and all(abs(a - b) <= slack for a, b in zip(r["rect"][2:], rect[2:]))
        match = next((r for r in cands if near(r)), None)
        if match:
            compared += 1
        else:
            print(f"FAIL page {n + 1}: {cls} \"{text}\" at {rect} in the window, at {[r['rect'] for r in cands]} in the preview")
    print(f"ok page {n + 1}: {compared} controls with the same text and rectangle")
PY
while read -r verdict rest; do
  if [ "$verdict" = ok ]; then pass "$rest"; else fail "$rest"; fi
done <"$work/compare.txt"
check "pages compared: $(grep -c '^ok' "$work/compare.txt") of the 8 that stay on the screen" test "$(grep -c '^ok' "$work/compare.txt")" = 8

echo "wine-preview: $failures failure(s)"
[ "$failures" = 0 ]
