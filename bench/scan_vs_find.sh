#!/usr/bin/env bash
# Times `drivemap build` over this machine's root file system, then `find` over the same file
# system right after it (so both see warm caches), and prints the two figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh >&2
cmake --preset linux-x64 -DPWDVMP32_EXPORT_CHECK=OFF >/dev/null
cmake --build --preset linux-x64 --target drivemap pwdvmp32 >/dev/null
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT

seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  printf '%d.%03d' $(((end - start) / 1000000000)) $(((end - start) / 1000000 % 1000))
}
build=$(seconds build/linux-x64/tools/drivemap/drivemap build --quiet --state "$state" --drive "C=/")
find=$(seconds find / -xdev -printf '%s %T@ %A@\n')
echo "drivemap build over /: ${build} s"
echo "find / -xdev -printf '%s %T@ %A@\\n': ${find} s"
build/linux-x64/tools/drivemap/drivemap stats --state "$state" --drive "C=/"
