# Sourced by scripts that need an X server for Wine windows.
# start_xvfb FIRST LAST GEOMETRY: starts Xvfb on the first free display number in
# FIRST..LAST, exports DISPLAY and sets xvfb_pid; returns 1 when none could be started.
start_xvfb() {
  local n
  xvfb_pid=""
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "$3" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    xvfb_pid=""
  done
  return 1
}
