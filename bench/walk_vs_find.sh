#!/usr/bin/env bash
# The map's walk against the anchors, on the same entries, warm cache, runs alternating:
#   drivemap build          the map of TREE as drive C:
#   drivemap sync           with nothing changed
#   drivemap stats          loading the saved map
#   find                    the same entries (directories whose names begin with a dot pruned, as
#                           the map passes over them), printing the metadata the map keeps
#   updatedb.plocate        a fresh database of TREE, then an update with nothing changed
# Prints the median wall time of each, microseconds per entry, the ratio to find, system calls per
# entry (strace -c, one extra run each) and drivemap's peak memory. Each time includes starting a
# shell and a program, which the "harness" row (/bin/true) measures: it matters for stats alone.
#
# Usage: bench/walk_vs_find.sh [TREE] [RUNS]     (default / and 5)
# DRIVEMAP=path/to/drivemap uses that binary instead of building this tree's; BASELINE=path/to/
# another drivemap (an earlier commit's) adds its build, sync and stats to the same alternating runs.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-/}
runs=${2:-5}

if [ -z "${DRIVEMAP:-}" ]; then
  scripts/install-dependencies.sh >&2
  cmake --preset linux-x64 -DPWDVMP32_EXPORT_CHECK=OFF >/dev/null
  cmake --build --preset linux-x64 --target drivemap pwdvmp32 >/dev/null
  DRIVEMAP=build/linux-x64/tools/drivemap/drivemap
fi
missing=()
command -v updatedb.plocate >/dev/null || missing+=(plocate)
command -v strace >/dev/null || missing+=(strace)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  $sudo apt-get install -y "${missing[@]}" >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y "${missing[@]}" >/dev/null; }
fi

work=$(mktemp -d /dev/shm/walk-vs-find.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
state=$work/state
mkdir -p "$state"
dm=("$DRIVEMAP" --drive "C=$tree" --state "$state" --quiet)
prune=("$tree" -xdev \( -type d -name '.*' -prune \) -o)
plocate_db=$work/plocate.db

declare -A commands=(
  [build]="rm -f '$state/PWDRVMAP.DAT' && ${dm[*]@Q} build"
  [sync]="${dm[*]@Q} sync"
  [stats]="${dm[*]@Q} stats"
  [find]="find ${prune[*]@Q} -printf '%s %T@ %A@\n'"
  [updatedb]="rm -f '$plocate_db' && updatedb.plocate -U ${tree@Q} -o '$plocate_db' -l no --prune-bind-mounts no --prunenames '' --prunepaths '' --prunefs ''"
  [updatedb-again]="updatedb.plocate -U ${tree@Q} -o '$plocate_db' -l no --prune-bind-mounts no --prunenames '' --prunepaths '' --prunefs ''"
  [harness]="/bin/true"
)
order=(build sync stats find updatedb updatedb-again harness)
if [ -n "${BASELINE:-}" ]; then
  mkdir -p "$work/baseline"
  base=("$BASELINE" --drive "C=$tree" --state "$work/baseline" --quiet)
  commands[baseline-build]="rm -f '$work/baseline/PWDRVMAP.DAT' && ${base[*]@Q} build"
  commands[baseline-sync]="${base[*]@Q} sync"
  commands[baseline-stats]="${base[*]@Q} stats"
  order=(build baseline-build sync baseline-sync stats baseline-stats find updatedb updatedb-again harness)
fi

# One timed run in milliseconds.
milliseconds() {
  local start end
  start=$(date +%s%N)
  bash -c "$1" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

entries=$(find "${prune[@]}" -print | wc -l)
echo "tree $tree: $entries entries (find's count, dot directories pruned); $runs runs each, alternating" >&2
bash -c "${commands[build]}" >/dev/null 2>&1  # warm the cache and make the map that sync and stats load
[ -z "${BASELINE:-}" ] || bash -c "${commands[baseline-build]}" >/dev/null 2>&1
bash -c "${commands[updatedb]}" >/dev/null 2>&1

declare -A times
for ((run = 1; run <= runs; ++run)); do
  for name in "${order[@]}"; do times[$name]+="$(milliseconds "${commands[$name]}") "; done
done

calls() {  # system calls of one run
  strace -f -c -o "$work/strace" bash -c "$1" >/dev/null 2>&1 || true
  awk '/total$/ { print $(NF - 2) }' "$work/strace"
}

find_ms=$(tr ' ' '\n' <<<"${times[find]}" | grep . | median)
printf '\n%-16s %10s %12s %8s %14s\n' "" "median ms" "us/entry" "x find" "syscalls/entry"
for name in "${order[@]}"; do
  ms=$(tr ' ' '\n' <<<"${times[$name]}" | grep . | median)
  syscalls=$(calls "${commands[$name]}")
  awk -v n="$name" -v ms="$ms" -v e="$entries" -v f="$find_ms" -v s="$syscalls" \
    'BEGIN { printf "%-16s %10.0f %12.2f %8.2f %14.2f\n", n, ms, ms * 1000 / e, ms / f, s / e }'
done
echo
for name in build sync; do
  /usr/bin/time -f '%M' -o "$work/peak" bash -c "${commands[$name]}" >/dev/null 2>&1 || true
  echo "drivemap $name peak memory: $(($(tail -1 "$work/peak") / 1024)) MiB"
done
echo "drivemap sync / build: $(awk -v s="$(tr ' ' '\n' <<<"${times[sync]}" | grep . | median)" \
  -v b="$(tr ' ' '\n' <<<"${times[build]}" | grep . | median)" 'BEGIN { printf "%.2f", s / b }')"
