# Sourced by the end-to-end scripts that look at windows under Wine and drive them with xdotool.
# Needs: dump_exe (windump.exe of the architecture), work (the script's temporary folder), and
# wine_run from windows.sh.

# What is on the screen: one line per window (depth|class|text|vis=|en=|rect=x,y,w,h|id=...).
screen() { wine_run "$dump_exe" "$@" 2>/dev/null | tr -d '\r'; }
# The first visible line of that class whose text matches the pattern (grep -E on the text).
find_ctl() {  # find_ctl CLASS TEXT-REGEX [SCREEN-FILE]
  local file="${3:-$work/screen.txt}"
  awk -F'|' -v c="$1" -v t="$2" '$2 == c && $3 ~ t && $4 == "vis=1" { print; exit }' "$file"
}
refresh() { screen >"$work/screen.txt"; }
# Waits until a visible window of that class with that text is on the screen.
wait_for() {  # wait_for CLASS TEXT-REGEX [SECONDS]
  local i
  for i in $(seq 1 $((${3:-30} * 2))); do
    refresh
    [ -n "$(find_ctl "$1" "$2")" ] && return 0
    sleep 0.5
  done
  return 1
}
centre() {  # centre LINE -> "x y"
  sed -E 's/.*\|rect=(-?[0-9]+),(-?[0-9]+),([0-9]+),([0-9]+)\|.*/\1 \2 \3 \4/' <<<"$1" |
    awk '{ print int($1 + $3 / 2), int($2 + $4 / 2) }'
}
click_at() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
click() {  # click CLASS TEXT-REGEX: clicks the centre of that control
  local line
  line="$(find_ctl "$1" "$2")"
  [ -n "$line" ] || { echo "  (no visible $1 /$2/ to click)"; return 1; }
  # shellcheck disable=SC2046
  click_at $(centre "$line")
}
text_of() {  # text_of CLASS ID -> the text of the visible control with that id
  awk -F'|' -v c="$1" -v id="id=$2" '$2 == c && $4 == "vis=1" && $7 ~ ("^" id "( |$)") { print $3; exit }' "$work/screen.txt"
}
has_text() { grep -F -q -- "$1" "$work/screen.txt"; }
visible_text() { awk -F'|' -v t="$1" '$4 == "vis=1" && index($3, t) { f = 1 } END { exit !f }' "$work/screen.txt"; }
checks_of() {  # checks of the visible list view at that position in the list of list views
  awk -F'|' '$2 == "SysListView32" && $4 == "vis=1" { for (i = 1; i <= NF; i++) if ($i ~ /checks=/) { sub(/.*checks=/, "", $i); sub(/ .*/, "", $i); print $i; exit } }' "$work/screen.txt"
}
# The wizard's Next (or 我同意 on the licence page) and Previous buttons.
# finish_setup PID WHAT: waits for the finish page, presses Finish and waits for the setup
# (started in the background as PID) to end with exit code 0; one check for each.
finish_setup() {
  check "the installation ends on the finish page" wait_for Button '^完成\(&F\)$' 60
  click Button '^完成\(&F\)$'
  for _ in $(seq 1 40); do kill -0 "$1" 2>/dev/null || break; sleep 0.5; done
  wait "$1"
  check "$2 ends with exit code 0" test "$?" = 0
  wine_wait
}
next_page() { click Button '^下一步\(&N\)->$|^我同意$'; sleep 0.4; refresh; }
prev_page() { click Button '^<-上一步\(&P\)$'; sleep 0.4; refresh; }

# The pictures a wizard walk shows: DIR/strip.bmp for the inner pages' top strip (508 × 57) and
# DIR/back.jpg for the first and last pages' background (508 × 289).
wizard_pictures() {  # wizard_pictures DIR
  mkdir -p "$1"
  convert -size 508x57 gradient:'#2060c0-#a0c8ff' "BMP3:$1/strip.bmp" 2>/dev/null
  convert -size 508x289 gradient:'#ffffff-#c0d8ff' -quality 90 "$1/back.jpg" 2>/dev/null
  [ -s "$1/strip.bmp" ] && [ -s "$1/back.jpg" ] || { echo "$(basename "$0" .sh): ImageMagick convert failed" >&2; exit 1; }
}
# Sets those pictures on every page of a project; BUILDER is a command (or function) taking
# gbsetup's arguments.
wizard_page_pictures() {  # wizard_page_pictures BUILDER PROJECT DIR
  local p
  "$1" page "$2" 欢迎 标题图片 "$3/back.jpg"
  for p in 安装协议说明 软件使用说明 选择程序文件夹 选择安装组件 选择安装文件夹 确认安装 安装进程; do
    "$1" page "$2" "$p" 标题图片 "$3/strip.bmp"
  done
  "$1" page "$2" 安装完毕 标题图片 "$3/back.jpg"
}
