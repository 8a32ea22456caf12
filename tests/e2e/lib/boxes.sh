# Sourced by the end-to-end scripts that run setups under Wine and expect message boxes.
# Needs: lib/windows.sh sourced, wine_start and wine_display done.

# run_boxed DIR EXE [ARGS...]: runs DIR/EXE under Wine, answers every message box it shows
# with Return, and waits for it. Sets box_rc (exit code: all of it when exitcode_exe names the
# helper that prints it, else the low 8 bits that reach Linux) and box_count; the boxes' texts,
# decoded from Wine's message box trace, go to $work/EXE.boxes, one per line (line breaks
# as " | "), the exit code to $work/EXE.rc. Programs of different names may run at once.
run_boxed() {
  local dir="$1" exe="$2"; shift 2
  local class="^${exe//./\\.}\$" trace="$work/$exe.trace" rcfile="$work/$exe.rc"
  rm -f "$rcfile"
  if [ -n "${exitcode_exe:-}" ]; then
    # The whole exit code, through the helper that prints it.
    ( cd "$dir" && WINEDEBUG=trace+msgbox WINE_TIMEOUT="${WINE_TIMEOUT:-180}" wine_run "$exitcode_exe" "$exe" "$@" 2>"$trace" |
        tr -d '\r' >"$rcfile.full"; mv "$rcfile.full" "$rcfile" ) &
  else
    ( cd "$dir" && WINEDEBUG=trace+msgbox WINE_TIMEOUT="${WINE_TIMEOUT:-180}" wine_run "$exe" "$@" >/dev/null 2>"$trace"; echo $? >"$rcfile" ) &
  fi
  local runner=$! w
  while [ ! -f "$rcfile" ]; do
    # Without a window manager a box has no title; it is a visible window of the program.
    for w in $(xdotool search --onlyvisible --class "$class" 2>/dev/null); do
      sleep 0.3
      xdotool mousemove --window "$w" 10 10 click 1 key --window "$w" Return >/dev/null 2>&1
    done
    sleep 0.3
  done
  wait "$runner"
  box_rc="$(cat "$rcfile")"
  python3 - "$trace" >"$work/$exe.boxes" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="latin-1").read()
for m in re.finditer(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', text):
    esc = {"\\": "\\", '"': '"', "r": "", "n": " | ", "t": "\t"}
    print(re.sub(r'\\(\\|"|r|n|t|[0-9a-f]{4})',
                 lambda g: esc.get(g.group(1)) if g.group(1) in esc else chr(int(g.group(1), 16)), m.group(1)))
EOF
  box_count="$(wc -l <"$work/$exe.boxes")"
}
