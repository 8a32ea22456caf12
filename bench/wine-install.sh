#!/usr/bin/env bash
# Setup.exe under Wine against a cross-built baseline of the same architecture, in one run
# and one prefix.
#   bash bench/wine-install.sh [--arch i686|x86_64] [--rounds N] [--small N] [--big MiB,MiB,...]
#                              [--data DIR] [--baseline EXE] [--gbsetup EXE] [--work DIR] [--seed N]
#                              [--no-memo]
# The architecture is x86_64 (the stubs and the baseline of build-win64, 64-bit Wine, a win64
# prefix) unless i686 is asked for (build-win32, 32-bit Wine, a win32 prefix); either must be
# one that scripts/wine-run.sh --probe finds running here. --data and --baseline must hold
# programs of that architecture.
# Builds, with the Linux builder and the stubs of DATA/Exe (i686) or DATA/Exe/x64 (x86_64; default
# DATA: build-win64/data), with --arch x86 or x64, silent
# setups (level 默认压缩) of a generated corpus (default 4,000 files of 1-64 KiB plus 150, 100
# and 50 MiB files), of a quarter of it (a quarter of the small files, each large file at a
# quarter of its size), of both again with the detail memo on, and of a single small file.
# Then times under Wine, ROUNDS times, for the full corpus and for the quarter:
#   Baseline.exe (bench/wine) writing the setup's program files; Setup.exe installing it,
#   start to exit; the same with the memo; for the full corpus, Setup.exe again with the
#   builder's source folder in place (a setup tried on the machine that built it); UnIns.exe
#   /S on the installed tree (until the copy it hands the work to has ended);
# and once Setup.exe of the one-file setup (its own start-up and size). Before each timed run
# the previous run has ended, the server has exited, the disk has caught up and the setup is
# in the page cache; then a fresh server is started by a program that does nothing. Every
# line carries the load average at its start; the summary takes the best of the rounds.
# Not part of the tests. Everything goes to one work folder (default /tmp/gbsetup-bench-wine);
# the corpora stay there for the next run (the same bytes for the same arguments).
set -uo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
rounds=2 small=4000 big=150,100,50 seed=10 memo=1 arch="" data="" baseline=""
gbsetup="$repo/build/gbsetup"
work=/tmp/gbsetup-bench-wine
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2" ;;
    --rounds) rounds="$2" ;;
    --small) small="$2" ;;
    --big) big="$2" ;;
    --seed) seed="$2" ;;
    --data) data="$2" ;;
    --baseline) baseline="$2" ;;
    --gbsetup) gbsetup="$2" ;;
    --work) work="$2" ;;
    --no-memo) memo=0; shift; continue ;;  # the memo runs are left out
    *) echo "wine-install: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
helper="$repo/bench/wine_bench.py"
# x86_64 unless asked otherwise: 64-bit Wine runs on every machine of ours, 32-bit Wine only
# where 32-bit programs run. An architecture that does not run here is an error, not a skip.
case "$arch" in
  i686 | x86_64) runs="$(bash "$repo/scripts/wine-run.sh" --probe "$arch")" ;;
  "") runs="$(bash "$repo/scripts/wine-run.sh" --probe x86_64)"; arch=x86_64 ;;
  *) echo "wine-install: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
[ "$runs" = "$arch" ] || { echo "wine-install: $arch programs do not run here (scripts/wine-run.sh --probe)" >&2; exit 1; }
# The loader itself rather than the shell wrapper around it: one exec less in every timing.
case "$arch" in
  i686) tree=build-win32 winearch=win32 wine=/usr/lib/wine/wine stubs=Exe setuparch=x86 ;;
  x86_64) tree=build-win64 winearch=win64 wine=/usr/lib/wine/wine64 stubs=Exe/x64 setuparch=x64 ;;
esac
[ -n "$data" ] || data="$repo/$tree/data"
[ -n "$baseline" ] || baseline="$repo/$tree/bench/wine/Baseline.exe"
for f in "$gbsetup" "$data/$stubs/Setup.exe" "$data/$stubs/UnIns.exe" "$baseline"; do
  [ -e "$f" ] || { echo "wine-install: $f is missing (bash scripts/build.sh)" >&2; exit 1; }
done
# Setup.exe is timed beside a baseline of its own kind, never of the other.
for f in "$data/$stubs/Setup.exe" "$data/$stubs/UnIns.exe" "$baseline"; do
  kind="$(python3 "$helper" pe-arch "$f")"
  [ "$kind" = "$arch" ] || { echo "wine-install: $f is $kind, not $arch" >&2; exit 1; }
done
mkdir -p "$work"
work="$(cd "$work" && pwd)"

export WINEPREFIX="$work/prefix-$winearch" WINEARCH="$winearch" WINELOADER="$wine" WINEDEBUG=-all
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 HOME="$work/home"
xvfb_pid="" lent=""
cleanup() {
  wineserver -k >/dev/null 2>&1
  [ -n "$lent" ] && mv "$work/build-src" "$lent"
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$WINEPREFIX" "$HOME" "$work/setups" "$work/programs"
}
trap cleanup EXIT
source "$repo/scripts/xvfb.sh"
start_xvfb 400 449 1024x768x24 || { echo "wine-install: no X server on :400-:449" >&2; exit 1; }

echo "== gbsetup Setup.exe under Wine, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "   stub $data/$stubs/Setup.exe ($(stat -c %s "$data/$stubs/Setup.exe") bytes, sha1 $(sha1sum "$data/$stubs/Setup.exe" | cut -c1-12))"
echo "   architecture $arch: $("$wine" --version) ($wine, $winearch prefix)"
echo "   baseline $baseline ($(stat -c %s "$baseline") bytes); rounds $rounds"

# --- corpora and setups (not timed) ---
quarter_big="$(python3 -c 'import sys; print(",".join("%g" % (float(b) / 4) for b in sys.argv[1].split(",") if b))' "$big")"
make_corpus() {  # make_corpus NAME SMALL BIG
  local dir="$work/corpus-$1" stamp="$2 $3 $seed"
  if [ "$(cat "$dir/.stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$dir"
    python3 "$helper" corpus "$dir" "$2" "$3" "$seed" >/dev/null || exit 1
    echo "$stamp" > "$dir/.stamp"
  fi
  echo "   corpus $1: $2 files of 1-64 KiB, large files [${3:-none}] MiB, $(find "$dir/app" -type f | wc -l) files, $(du -sb "$dir/app" | cut -f1) bytes"
}
# The setup is built from a folder name that is gone when it installs: on the user's machine
# the builder's source paths do not exist (under Wine, Z: would show them otherwise). The run
# setup-full-src puts the folder back, as on the machine that built the setup.
make_setup() {  # make_setup NAME CORPUS [DETAILS] -> $work/setups/NAME.exe (DETAILS: 是 shows the memo)
  local dir="$work/corpus-$2" out="$work/setups/$1" src="$work/build-src"
  rm -rf "$out" "$src"
  mkdir -p "$out"
  mv "$dir" "$src"
  (
    set -e
    cd "$src"
    "$gbsetup" new "$out/p.gbp" --force
    "$gbsetup" set "$out/p.gbp" 项目名称 bench
    "$gbsetup" set "$out/p.gbp" 安装界面显示 否
    "$gbsetup" set "$out/p.gbp" 压缩类型 默认压缩
    "$gbsetup" add-folder "$out/p.gbp" app --to "Program Files"
    "$gbsetup" page "$out/p.gbp" 选择安装文件夹 程序文件夹名称 bench
    "$gbsetup" page "$out/p.gbp" 安装完毕 主程序 app/d00/f00000.dat
    "$gbsetup" page "$out/p.gbp" 安装进程 显示详细内容 "${3:-否}"
    "$gbsetup" --data "$data" build "$out/p.gbp" --output "$out" --arch "$setuparch"
  ) >"$out/build.log" 2>&1
  local rc=$?
  mv "$src" "$dir"
  [ $rc = 0 ] || { cat "$out/build.log"; echo "wine-install: building setup $1 failed" >&2; exit 1; }
  mv "$out/bench.exe" "$work/setups/$1.exe"
  echo "   setup $1: $(stat -c %s "$work/setups/$1.exe") bytes"
}
t0=$(date +%s)
make_corpus full "$small" "$big"
make_corpus quarter "$((small / 4))" "$quarter_big"
make_corpus one 1 ""
mkdir -p "$work/setups"
for c in full quarter one; do make_setup $c $c; done
# The same with the progress page's detail memo on: a silent setup fills it too (one line per
# file), so its cost shows here as well.
if [ $memo = 1 ]; then
  make_setup full-memo full 是
  make_setup quarter-memo quarter 是
fi
echo "   corpora and setups ready in $(( $(date +%s) - t0 )) s"

# --- the timed runs ---
mkdir -p "$work/programs"
cp "$baseline" "$work/programs/Baseline.exe"
echo "   making the prefix"
"$wine" wineboot -i >/dev/null 2>&1
# Xvfb has no window manager, and Wine waits up to 2 s for one to withdraw each managed window
# it hides (the unpack dialog): a stall that neither Windows nor a desktop with a window
# manager has. Windows that Wine does not hand to a window manager skip that wait.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
inst="$WINEPREFIX/drive_c/Program Files/bench"
results="$work/results.txt"
: > "$results"
export WINE_BENCH_LOG="$work/programs.log"
: > "$WINE_BENCH_LOG"
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
# Between runs: the previous tree goes (unless keep), the disk catches up, the server of the
# previous run has ended and the setup is in the page cache, so that no run pays for
# another's leftovers.
settle() {  # settle [FILE-TO-CACHE] [keep]
  [ "${2:-}" = keep ] || rm -rf "$inst"
  sync
  wineserver -w
  [ -n "${1:-}" ] && cat "$1" > /dev/null
}
# A fresh server with its services (explorer, services, plugplay, ...), started by a program
# that does nothing: on Windows they are running before any setup starts, and starting them
# costs a second of two busy processes that no timing should carry. The server stays 2 s
# after its last program, long enough for the timed one to start.
warm() {
  wineserver -p2 >/dev/null 2>&1
  "$wine" "$work/programs/Baseline.exe" >/dev/null 2>&1
}
tree() { if [ -d "$inst" ]; then echo "$(find "$inst" -type f | wc -l) files, $(du -sb "$inst" | cut -f1) bytes"; else echo "no tree"; fi; }
run() {  # run LABEL [--follow TEXT] -- COMMAND...
  local line
  line="$(python3 "$helper" time "$@" 2>/dev/null)" || { echo "wine-install: timing failed" >&2; exit 1; }
  echo "$line" >> "$results"
  set -- $line
  printf '  %-18s %7.2f s  peak %5.1f MiB  exit %s  load %s  cpu %s+%s s, server %s s' "$1" "$2" \
    "$(awk -v k="$3" 'BEGIN { print k / 1024 }')" "$4" "$5" "$6" "$7" "$8"
}

echo "== runs (wall time start to exit; peak = VmHWM of the Windows process; load = 1, 5, 15 min before the"
echo "   run; cpu = user + system seconds of the Windows process itself; server = cpu seconds of the wineserver"
echo "   meanwhile)"
settle
run wine-cold -- "$wine" "$work/programs/Baseline.exe"; echo "  (a program that does nothing, server not running)"
warm
run wine-start -- "$wine" "$work/programs/Baseline.exe"; echo "  (the same, server running: in every run below)"
for r in $(seq 1 "$rounds"); do
  echo "-- round $r"
  for c in full quarter; do
    setup="$work/setups/$c.exe"
    settle "$setup"
    warm
    run "baseline-$c" -- "$wine" "$work/programs/Baseline.exe" "$(winpath "$setup")" 'C:\Program Files\bench'
    echo "  -> $(tree)"
    settle "$setup"
    warm
    run "setup-$c" -- "$wine" "$setup" Ins
    echo "  -> $(tree)"
    if [ $c = full ]; then
      # The project names each file's source path; here they exist, as where it was built.
      settle "$setup"
      lent="$work/corpus-$c"
      mv "$lent" "$work/build-src"
      warm
      run "setup-$c-src" -- "$wine" "$setup" Ins
      echo "  -> $(tree)"
      mv "$work/build-src" "$lent"
      lent=""
    fi
    if [ $memo = 1 ]; then
      settle "$work/setups/$c-memo.exe"
      warm
      run "setup-$c-memo" -- "$wine" "$work/setups/$c-memo.exe" Ins
      echo "  -> $(tree)"
    fi
    # The uninstaller runs on the tree that Setup.exe has just installed (the same files).
    settle "" keep
    warm
    run "unins-$c" --follow UnIns -- "$wine" 'C:\Program Files\bench\app\d00\UnIns.exe' /S
    echo "  -> left: $(tree)"
  done
done
settle "$work/setups/one.exe"
warm
run setup-one -- "$wine" "$work/setups/one.exe" Ins; echo "  -> $(tree)"
settle

# --- summary: the best of the rounds ---
python3 - "$results" "$arch programs, $wine, $winearch prefix" <<'EOF'
import sys
best, peak, cpu, srv, runs = {}, {}, {}, {}, {}
for line in open(sys.argv[1]):
    label, sec, rss, code, load, user, system, server = line.split()
    sec, rss = float(sec), int(rss)
    runs.setdefault(label, []).append(sec)
    if label not in best or sec < best[label]:
        best[label] = sec
    peak[label] = max(peak.get(label, 0), rss)
    cpu[label] = min(cpu.get(label, 1e9), float(user) + float(system))
    srv[label] = min(srv.get(label, 1e9), float(server))
def mib(k): return peak[k] / 1024.0
print("== summary (best of the rounds; %s)" % sys.argv[2])
for k in ("baseline-full", "setup-full", "setup-full-memo", "setup-full-src", "unins-full", "baseline-quarter", "setup-quarter",
          "setup-quarter-memo", "unins-quarter", "setup-one", "wine-start", "wine-cold"):
    if k in best:
        print("  %-18s %8.2f s  peak %6.1f MiB" % (k, best[k], mib(k)))
def ratio(a, b): return best[a] / best[b] if a in best and b in best else float("nan")
print("  Setup.exe / baseline:          full %.2f (goal <= 1.05), quarter %.2f; with the memo: full %.2f, quarter %.2f"
      % (ratio("setup-full", "baseline-full"), ratio("setup-quarter", "baseline-quarter"),
         ratio("setup-full-memo", "baseline-full"), ratio("setup-quarter-memo", "baseline-quarter")))
# The disk's write-back and the page cache drift from run to run by more than the gap being
# measured: each round's setup against the baseline run just before it, and their median.
def paired(a, b):
    r = sorted(x / y for x, y in zip(runs.get(a, []), runs.get(b, [])))
    return (r, r[len(r) // 2] if len(r) % 2 else (r[len(r) // 2 - 1] + r[len(r) // 2]) / 2) if r else ([], float("nan"))
for a, b in (("setup-full", "baseline-full"), ("setup-quarter", "baseline-quarter")):
    r, m = paired(a, b)
    print("  %-30s median %.2f of the rounds' %s" % (a + " / " + b.split("-")[0] + ", paired:", m, " ".join("%.2f" % x for x in r)))
print("  source folder in place:        Setup.exe full %.2f of the baseline, %.2f of Setup.exe without it"
      % (ratio("setup-full-src", "baseline-full"), ratio("setup-full-src", "setup-full")))
print("  growth, 4x the files:          Setup.exe %.2f (goal <= 4.5), with the memo %.2f, baseline %.2f"
      % (ratio("setup-full", "setup-quarter"), ratio("setup-full-memo", "setup-quarter-memo"),
         ratio("baseline-full", "baseline-quarter")))
print("  growth, 4x the files:          UnIns.exe /S %.2f (linear: <= 4.5)" % ratio("unins-full", "unins-quarter"))
# Less disturbed by other work on the machine than the wall clock, but blind to the time the
# Wine server spends on a program's requests.
print("  cpu of the process (best):     Setup.exe full %.2f s, baseline full %.2f s (%.2f); quarter %.2f s, %.2f s"
      % (cpu["setup-full"], cpu["baseline-full"], cpu["setup-full"] / cpu["baseline-full"], cpu["setup-quarter"],
         cpu["baseline-quarter"]))
print("  cpu of the wineserver (best):  Setup.exe full %.2f s, baseline full %.2f s; quarter %.2f s, %.2f s"
      % (srv["setup-full"], srv["baseline-full"], srv["setup-quarter"], srv["baseline-quarter"]))
# What a one-file setup takes beyond a Wine start: the system libraries, the release into the
# private folder and the windows. The same whatever the package holds.
fixed = best["setup-one"] - best["wine-start"]
print("  Setup.exe's fixed part (one-file setup - Wine start): %.2f s; beside it, full: %.2f s for the baseline's %.2f s (%.2f)"
      % (fixed, best["setup-full"] - fixed, best["baseline-full"], (best["setup-full"] - fixed) / best["baseline-full"]))
own = mib("setup-one")
print("  peak memory of Setup.exe: full %.1f MiB, quarter %.1f MiB, one file %.1f MiB; full - one = %.1f MiB (goal <= 32)"
      % (mib("setup-full"), mib("setup-quarter"), own, mib("setup-full") - own))
print("  peak memory of the baseline: full %.1f MiB, quarter %.1f MiB" % (mib("baseline-full"), mib("baseline-quarter")))
EOF
echo "== done ($arch) in $(( $(date +%s) - t0 )) s, load $(cut -d' ' -f1-3 /proc/loadavg)"
