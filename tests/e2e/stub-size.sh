#!/usr/bin/env bash
# The two stubs that travel in every setup keep their size: Setup.exe at most 424 KiB with
# zlib and the JPEG decoder in it, UnIns.exe at most 250 KiB; both are stripped PE images of
# their architecture's kind that still carry their icon group, manifest and version details.
# Read with objdump, wrestool and pefile, so it holds where the stubs cannot run.
#   tests/e2e/stub-size.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
win_need "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"
echo "stub-size: $win_arch stubs"
for limit in "Setup.exe 434176" "UnIns.exe 256000"; do
  set -- $limit
  f="$win_stubs/$1"
  size=$(stat -c %s "$f")
  check "$1: $size bytes (limit $2)" test "$size" -le "$2"
  check "$1: a $win_pe_kind image (pefile)" test "$(pe_kind "$f")" = "$win_pe_kind"
  for t in 14 16 24; do
    check "$1: one resource of type $t (wrestool)" test "$(wrestool -l --type=$t "$f" 2>/dev/null | wc -l)" = 1
  done
  check "$1: the icon group MAINICON" test -n "$(wrestool -l --type=14 --name=MAINICON "$f" 2>/dev/null)"
  # A reader that does not know the format must fail the check, not pass it.
  headers="$("$win_tools-objdump" -h "$f" 2>&1)"
  rc=$?
  check "$1: $win_tools-objdump reads its sections (exit $rc)" test "$rc" = 0 -a -n "$(grep -E '^\s+[0-9]+ \.text' <<<"$headers")"
  check_not "$1: stripped" grep -qE '\.debug|\.stab' <<<"$headers"
done
# The decoder is really linked in: its error texts are in the image.
check "Setup.exe: the JPEG decoder is in it" grep -aq 'Unsupported JPEG process' "$win_stubs/Setup.exe"
echo "stub-size: $failures failure(s)"
[ "$failures" = 0 ]
