#!/usr/bin/env bash
# Takes a picture of the unpack dialog ("初始化") under Xvfb: builds a small silent setup with
# the Linux builder and the cross-built stub, starts it inside a Wine virtual desktop (which
# draws the window captions) and keeps the frame that shows the dialog.
#   scripts/screenshot-unpack-dialog.sh [OUTPUT.png]     (default docs/unpack-dialog.png)
# Uses build/gbsetup (or GBSETUP_E2E_BUILDER) and the stub of GBSETUP_WIN_ARCH (i686 or x86_64,
# the default).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
out="${1:-docs/unpack-dialog.png}"
work="$(mktemp -d /tmp/gbsetup-shot.XXXXXX)"
source tests/e2e/lib/windows.sh
data="$win_data"
cleanup() {
  wine_cleanup
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/app"
# A large, well-compressing header picture makes the release take long enough to watch.
convert -size 3000x3000 xc:'#3060a0' "BMP3:$work/head.bmp"
printf 'MZ\r\n' > "$work/app/demo.exe"
(
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 示例软件
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/demo.exe
  "$gbsetup" page p.gbp 欢迎 标题图片 head.bmp
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
cp "$work/out/"*.exe "$work/Setup.exe"

source "$repo/scripts/xvfb.sh"
start_xvfb 150 199 800x600x24 || { echo "no X server" >&2; exit 1; }

wine_start
( cd "$work" && timeout 120 "$repo/scripts/wine-run.sh" explorer /desktop=gbsetup,480x200 Setup.exe x >/dev/null 2>&1 ) &
runner=$!
# Frames until the program ends; the dialog is the only window it shows, so the frame with the
# most detail is the one with the dialog on it.
i=0
while kill -0 "$runner" 2>/dev/null && [ $i -lt 400 ]; do
  desk="$(xdotool search --name '^gbsetup' 2>/dev/null | head -1 || true)"
  if [ -n "$desk" ]; then
    import -window "$desk" "$work/frame-$(printf %04d $i).png" 2>/dev/null || true
  fi
  i=$((i + 1))
  sleep 0.05
done
wait "$runner" || true
best="$(ls -S "$work"/frame-*.png 2>/dev/null | head -1 || true)"
[ -n "$best" ] || { echo "no frame was captured" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
convert "$best" -strip "$out"
echo "wrote $out"
