#!/usr/bin/env bash
# The two stubs that travel in every setup keep their size: Setup.exe at most 400 KiB with
# zlib and the JPEG decoder in it, UnIns.exe at most 250 KiB; both are stripped PE images
# that still carry their manifest and version details.
#   tests/e2e/stub-size.sh   (after scripts/build.sh; uses build-win32/data)
set -euo pipefail
cd "$(dirname "$0")/../.."
data="${GBSETUP_E2E_STUBS:-build-win32/data}"
status=0
for limit in "Setup.exe 409600" "UnIns.exe 256000"; do
  set -- $limit
  f="$data/Exe/$1"
  [ -f "$f" ] || { echo "stub-size: $f is missing (run scripts/build.sh)" >&2; exit 1; }
  size=$(stat -c %s "$f")
  if [ "$size" -le "$2" ]; then
    echo "  ok   $1: $size bytes (limit $2)"
  else
    echo "  FAIL $1: $size bytes, more than $2"
    status=1
  fi
  for t in 24 16; do
    if [ "$(wrestool -l --type=$t "$f" 2>/dev/null | wc -l)" != 1 ]; then
      echo "  FAIL $1: no single resource of type $t"
      status=1
    fi
  done
  if i686-w64-mingw32-objdump -h "$f" | grep -qE '\.debug|\.stab'; then
    echo "  FAIL $1: not stripped"
    status=1
  fi
done
# The decoder is really linked in: its error texts are in the image.
grep -aq 'Unsupported JPEG process' "$data/Exe/Setup.exe" || { echo "  FAIL Setup.exe: no JPEG decoder in it"; status=1; }
exit "$status"
