#!/usr/bin/env bash
# The wizard at 100 %, 125 %, 150 % and 200 % display scaling under Wine and Xvfb: for each
# density the prefix is set to, Setup.exe lays its window out at the layout table times the
# scale (the client area and every control within a pixel, as windump sees them), on each page
# from the welcome page to the confirmation, walked with Next, and on the finish page after Next
# has installed; then Esc and Yes end the setup.
# tests/e2e/lib/layout-check.py reads the rows from the source and compares. Fonts and whole
# texts need the program's own process: the window tests look at them at the same densities.
#   tests/e2e/wine-dpi.sh   (after scripts/build.sh)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
dump_exe="$win_build/tests/e2e/tools/windump.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$dump_exe"
command -v xdotool >/dev/null || { echo "wine-dpi: xdotool is missing (scripts/install-deps.sh)" >&2; exit 1; }

win_workdir "/tmp/gbsetup-dpi.XXXXXX"
echo "wine-dpi: $win_arch stubs under $win_arch Wine"
wine_start
# Room for the window at 200 % (1016 x 662 inside its frame).
wine_display 160 169 1600x1200x24
source tests/e2e/lib/screen.sh

echo "== building the test setup"
# A long name: the welcome page's and the folder page's labels wrap over more lines.
name="高分辨率显示缩放测试软件"
data="$work/data"
cp -r "$win_data" "$data"
mkdir -p "$data/Imports/ComA/ComA" "$work/app" "$work/img"
printf '[RegistryList]\r\nRegtype=User\r\n[SysDirList]\r\nComA.dll=[System Directory]\\System32\\ComA.dll\r\n' >"$data/Imports/ComA/ComA.ini"
printf 'ComA body' >"$data/Imports/ComA/ComA/ComA.dll"
printf '[Com]\r\nComA=ComA\r\n[Description]\r\nComA=a\r\n[ComSize]\r\nComA=2097152\r\n' >"$data/Imports/ComList.ini"
printf 'MZ app\r\n' >"$work/app/app.exe"
printf '软件许可协议书正文\r\n' | iconv -f UTF-8 -t GBK >"$work/licence.txt"
printf '软件使用说明正文\r\n' | iconv -f UTF-8 -t GBK >"$work/app/readme.txt"
wizard_pictures "$work/img"
(
  set -e
  cd "$work"
  G() { "$gbsetup" --data "$data" "$@"; }
  G new p.gbp
  G set p.gbp 项目名称 "$name"
  G set p.gbp 安装界面显示 是
  G add-folder p.gbp app/ --to "Program Files"
  G component use p.gbp ComA
  wizard_page_pictures G p.gbp img
  G page p.gbp 欢迎 版权信息 "版权所有 (C) 2026 示例作者，保留所有权利。本软件受著作权法保护。"
  G page p.gbp 欢迎 网站链接 https://example.com/
  G page p.gbp 安装协议说明 安装协议 licence.txt
  G page p.gbp 软件使用说明 说明协议 app/readme.txt
  G page p.gbp 安装完毕 主程序 app/app.exe
  G page p.gbp 安装完毕 自述文件 app/readme.txt
  G page p.gbp 安装完毕 显示创建快速启动栏选项 是
  G build p.gbp --output out --arch "$win_setup_arch"
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "wine-dpi: building the setup failed" >&2; exit 1; }

# layout_ok [SAY]: the dump in screen.txt against the layout at this density; the client area
# and Next are printed with SAY, the faults always.
layout_ok() {
  local out rc
  out="$(python3 tests/e2e/lib/layout-check.py "$repo" "$dpi" "$work/screen.txt")"
  rc=$?
  if [ "$rc" != 0 ] || [ -n "${1:-}" ]; then sed 's/^/       /' <<<"$out"; fi
  return "$rc"
}

title="“${name}”安装向导"
pages=(welcome licence read-me program-folder components installation-folder confirmation)
for dpi in 96 120 144 192; do
  echo "== $dpi dpi ($((dpi * 100 / 96)) %)"
  wine_set_dpi "$dpi"
  check "the system reports $dpi dpi" test "$(wine_run "$dump_exe" --dpi 2>/dev/null | tr -d '\r')" = "$dpi"
  ( cd "$work/out" && wine_run "$name.exe" x ) >/dev/null 2>&1 &
  setup_pid=$!
  if ! wait_for TFrm_Setup "^$title\$" 60; then
    fail "the wizard window appears at $dpi dpi"
    kill "$setup_pid" 2>/dev/null
    continue
  fi
  for i in "${!pages[@]}"; do
    [ "$i" -gt 0 ] && next_page
    say=""
    [ "$i" = 0 ] && say=1
    check "${pages[$i]} page: the client area and every control at the layout x $dpi/96 (within a pixel)" layout_ok $say
  done
  check "the confirmation page is the one shown" visible_text "确认之前所有的操作。"
  # Next installs; the progress page passes too quickly to be read, the finish page stays.
  next_page
  if wait_for Button '^完成\(&F\)$' 60; then
    check "finish page: the client area and every control at the layout x $dpi/96 (within a pixel)" layout_ok
  else
    fail "the installation ends on the finish page at $dpi dpi"
  fi
  # Closed without Finish: asked, and Yes ends it (nothing is started).
  xdotool key Escape
  if wait_for Static '确定要退出该安装向导吗' 10; then click Button '^是'; fi
  for _ in $(seq 1 20); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.5; done
  check "Yes to the exit question ends the setup" test "$(kill -0 "$setup_pid" 2>/dev/null; echo $?)" = 1
  kill "$setup_pid" 2>/dev/null
  wine_wait
done

echo "wine-dpi: $failures failure(s)"
[ "$failures" = 0 ]
