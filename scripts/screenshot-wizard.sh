#!/usr/bin/env bash
# Takes one picture of each wizard page under Xvfb: builds a demo setup that shows every page
# (a JPEG and a BMP picture in the strips, a licence, a read-me, two components, all five
# finish rows, the detail lines), runs it inside a Wine virtual desktop, walks the pages with
# xdotool and writes docs/wizard/1-welcome.png ... 9-finish.png, cropped to the window, and the
# same setup's pages drawn by gbsetup preview in docs/wizard/preview.
#   scripts/screenshot-wizard.sh [--dpi DPI] [OUTDIR]
# --dpi sets the display scaling of the Wine prefix (120 = 125 %, 144 = 150 %, 192 = 200 %);
# OUTDIR is docs/wizard at 96 dpi, docs/wizard/<percent> (docs/wizard/150) at another.
# Uses build/gbsetup (or GBSETUP_E2E_BUILDER) and the stubs of GBSETUP_WIN_ARCH (i686 or x86_64,
# the default: 64-bit Wine runs on every machine; the pages are the same).
# GBSETUP_SHOT_DISPLAYS="FIRST LAST" picks the X display numbers to try (default 150 199).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
dpi=96
if [ "${1:-}" = --dpi ]; then
  dpi="${2:-}"
  shift 2
  [[ "$dpi" =~ ^[0-9]+$ ]] && [ "$dpi" -ge 96 ] && [ "$dpi" -le 480 ] || { echo "--dpi takes 96 to 480" >&2; exit 2; }
fi
if [ "$dpi" = 96 ]; then out="${1:-docs/wizard}"; else out="${1:-docs/wizard/$((dpi * 100 / 96))}"; fi
# A length of the 96-dpi pictures at this density.
px() { echo $((($1 * dpi + 48) / 96)); }
read -r dfirst dlast <<<"${GBSETUP_SHOT_DISPLAYS:-150 199}"

work="$(mktemp -d /tmp/gbsetup-wizshot.XXXXXX)"
source tests/e2e/lib/windows.sh
stubs="$win_data"
cleanup() {
  wine_cleanup
  rm -rf "$work"
}
trap cleanup EXIT
gbk() { iconv -f UTF-8 -t GBK; }

# The data folder with the cross-built stubs and a catalogue of two components, each a file
# for the system folder (file names on disk in UTF-8, INI contents in GBK).
data="$work/data"
cp -r "$repo/data" "$data"
mkdir -p "$data/Exe"
mkdir -p "$data/Exe/x64"
cp "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$data/Exe/${win_stubs#$win_data/Exe}"
for c in runtime:运行库 help:帮助文档; do
  dir="${c%%:*}" name="${c#*:}"
  mkdir -p "$data/Imports/$dir/$dir"
  printf '[RegistryList]\r\nRegtype=User\r\n[SysDirList]\r\n%s.bin=[System Directory]\\System32\\%s.bin\r\n' "$dir" "$dir" \
    | gbk >"$data/Imports/$dir/$name.ini"
  head -c 20000 /dev/urandom >"$data/Imports/$dir/$dir/$dir.bin"
done
printf '[Com]\r\n运行库=runtime\r\n帮助文档=help\r\n[Description]\r\n运行库=程序运行所需的库\r\n帮助文档=使用帮助\r\n[ComSize]\r\n运行库=1572864\r\n帮助文档=524288\r\n' \
  | gbk >"$data/Imports/ComList.ini"

# Pictures: a JPEG background for the welcome and finish pages, header strips as JPEG and BMP.
img="$work/img"
mkdir -p "$img"
convert -size 508x289 xc:'#f4f7fc' -fill '#1d4f91' -draw 'rectangle 0,0 150,289' \
  -fill '#ffffff' -draw 'circle 75,144 75,94' -fill '#e8a33d' -draw 'rectangle 55,124 95,164' "$img/side.jpg"
convert -size 508x57 gradient:'#ffffff-#c7d6ee' -fill '#1d4f91' -draw 'rectangle 440,8 496,49' "$img/head.jpg"
convert -size 508x57 gradient:'#ffffff-#d8ecd2' -fill '#2f7d32' -draw 'circle 468,28 468,8' "BMP3:$img/head.bmp"

# The application: enough files that the progress page can be seen while it runs.
app="$work/app"
mkdir -p "$app/lib"
printf 'MZ demo\r\n' >"$app/demo.exe"
for i in $(seq 1 1500); do head -c 3000 /dev/urandom >"$app/lib/part$i.dat"; done
printf '示例软件 软件许可协议\r\n\r\n1. 本软件按现状提供。\r\n2. 您可以在任意数量的计算机上安装本软件。\r\n3. 不得对本软件进行反向工程。\r\n' | gbk >"$work/licence.txt"
for i in $(seq 4 40); do printf '%s. 第 %s 条的说明文字。\r\n' "$i" "$i" | gbk >>"$work/licence.txt"; done
printf '示例软件 使用说明\r\n\r\n运行 demo.exe 即可开始使用。\r\n安装目录中的 lib 文件夹存放数据文件。\r\n' | gbk >"$work/readme.txt"
cp "$work/readme.txt" "$app/readme.txt"

(
  cd "$work"
  "$gbsetup" --data "$data" new p.gbp
  "$gbsetup" set p.gbp 项目名称 示例软件
  "$gbsetup" set p.gbp 安装界面显示 是
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" --data "$data" component use p.gbp 运行库 帮助文档
  "$gbsetup" page p.gbp 欢迎 标题图片 img/side.jpg
  "$gbsetup" page p.gbp 欢迎 版权信息 "版权所有 (C) 2026 示例作者"
  "$gbsetup" page p.gbp 欢迎 网站链接 https://example.com/
  "$gbsetup" page p.gbp 安装协议说明 标题图片 img/head.jpg
  "$gbsetup" page p.gbp 安装协议说明 安装协议 licence.txt
  "$gbsetup" page p.gbp 软件使用说明 标题图片 img/head.bmp
  "$gbsetup" page p.gbp 软件使用说明 说明协议 readme.txt
  "$gbsetup" page p.gbp 选择程序文件夹 标题图片 img/head.jpg
  "$gbsetup" page p.gbp 选择安装组件 标题图片 img/head.bmp
  "$gbsetup" page p.gbp 选择安装文件夹 标题图片 img/head.jpg
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 示例软件
  "$gbsetup" page p.gbp 确认安装 标题图片 img/head.bmp
  "$gbsetup" page p.gbp 安装进程 标题图片 img/head.jpg
  "$gbsetup" page p.gbp 安装进程 显示详细内容 是
  "$gbsetup" page p.gbp 安装完毕 标题图片 img/side.jpg
  "$gbsetup" page p.gbp 安装完毕 主程序 app/demo.exe
  "$gbsetup" page p.gbp 安装完毕 自述文件 app/readme.txt
  "$gbsetup" page p.gbp 安装完毕 显示创建快速启动栏选项 是
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
cp "$work/out/"*.exe "$work/Setup.exe"
# The same setup drawn by gbsetup preview, for setting the two side by side.
case "$dpi" in 96) scale=1 ;; 120) scale=1.25 ;; 144) scale=1.5 ;; 192) scale=2 ;; *) scale="" ;; esac
if [ -n "$scale" ]; then
  "$gbsetup" preview "$work/Setup.exe" --output "$out/preview" --scale "$scale" >"$work/preview.log" 2>&1 ||
    { cat "$work/preview.log"; exit 1; }
  echo "wrote $out/preview/*.png"
fi

desktop="$(px 800)x$(px 600)"
source "$repo/scripts/xvfb.sh"
start_xvfb "$dfirst" "$dlast" "${desktop}x24" || { echo "no X server" >&2; exit 1; }
wine_start
[ "$dpi" = 96 ] || wine_set_dpi "$dpi"
( cd "$work" && timeout 300 "$repo/scripts/wine-run.sh" explorer /desktop=gbsetup,"$desktop" Setup.exe x >/dev/null 2>&1 ) &
runner=$!

# The wizard's window: the top-level window whose name ends in 安装向导.
wizard=""
for _ in $(seq 1 600); do
  wizard="$(xdotool search --onlyvisible --name '安装向导$' 2>/dev/null | head -1 || true)"
  [ -n "$wizard" ] && break
  sleep 0.1
done
[ -n "$wizard" ] || { echo "the wizard did not appear" >&2; exit 1; }
mkdir -p "$out"
shot() {
  sleep 0.7
  import -window "$wizard" -strip "$out/$1.png"
  echo "wrote $out/$1.png"
}
# Return presses the default button (Next); the licence page's 我同意 has no Alt letter.
next() { xdotool key --window "$wizard" Return; }
xdotool mousemove --window "$wizard" 5 5
shot 1-welcome
next; shot 2-licence
next; shot 3-readme
next; shot 4-program-folder
next; shot 5-components
next; shot 6-install-folder
next; shot 7-confirm
next
sleep 0.5
import -window "$wizard" -strip "$out/8-progress.png"
echo "wrote $out/8-progress.png"
# The finish page comes with the completion report, which retitles the cancel button 完成:
# wait until the button row differs from the one on the progress page.
row="$(px 508)x$(px 40)+0+$(px 310)"
convert "$out/8-progress.png" -crop "$row" +repage "$work/row0.png"
for _ in $(seq 1 300); do
  sleep 0.3
  import -window "$wizard" -crop "$row" +repage "$work/row.png" 2>/dev/null || continue
  [ "$(compare -metric AE "$work/row0.png" "$work/row.png" null: 2>&1 || true)" != 0 ] && break
done
[ -n "${GBSETUP_SHOT_DEBUG:-}" ] && import -window root "$out/desktop.png"
shot 9-finish
xdotool key --window "$wizard" Escape
sleep 1
