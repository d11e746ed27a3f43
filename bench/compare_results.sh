#!/usr/bin/env bash
# Shows that two builds of drivemap give the same results: the map file's bytes of a build, and of
# a sync after changes with the summary it prints, with the local time frozen, and every record as
# `ls -r --json` lists it.
# Run it with the drivemap of a commit before an optimisation and the one after it.
#
# Usage: bench/compare_results.sh OLD_DRIVEMAP NEW_DRIVEMAP [TREE...]
# The trees default to /usr and an edge-case tree made here (names Windows cannot hold, case twins,
# links to directories and to nothing, a FIFO, an unreadable directory, deep paths, executables,
# directories whose names begin with a dot, UTF-8 names).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OLD_DRIVEMAP NEW_DRIVEMAP [TREE...]" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
cd "$(dirname "$0")/.."
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1 || true)
if [ -z "$faketime_lib" ]; then
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  $sudo apt-get install -y libfaketime >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y libfaketime >/dev/null; }
  faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -1)
fi

work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

edge=$work/edge
make_edge_tree() {
  mkdir -p "$edge/Deep" "$edge/Twins" "$edge/Locked" "$edge/Bin" "$edge/.hidden/inner" "$edge/Bin/.git/objects/ab"
  echo dot >"$edge/.hidden/inner/f.txt" && echo obj >"$edge/Bin/.git/objects/ab/cd"
  local d=$edge/Deep
  for i in $(seq 1 40); do d=$d/level$i; done
  mkdir -p "$d" && echo deep >"$d/file.txt"
  printf 'x' >"$edge/Twins/name.txt" && printf 'yy' >"$edge/Twins/NAME.txt"
  printf 'a' >"$edge/colon:name.txt" && printf 'b' >"$edge/trailing. " && printf 'c' >"$edge/$(printf 'ctl\001x')"
  local utf8=$edge/$(printf '\303\204\303\226')  # UTF-8 names that fit 8.3
  mkdir -p "$utf8" && printf 'd' >"$utf8/$(printf '\303\251t\303\251.txt')"
  ln -s Deep "$edge/link-to-dir" && ln -s /no/such "$edge/dangling"
  mkfifo "$edge/fifo"
  echo secret >"$edge/Locked/f.txt" && chmod 000 "$edge/Locked"
  for dll in /usr/lib/gcc/i686-w64-mingw32/*/*.dll /usr/i686-w64-mingw32/lib/*.dll; do
    [ -f "$dll" ] && cp "$dll" "$edge/Bin/"
  done
  for i in $(seq 1 300); do echo "$i" >"$edge/Bin/file$i.txt"; done
}

frozen() { LD_PRELOAD=$faketime_lib FAKETIME="2026-12-06 09:00:00" "$@"; }

status=0
compare() {  # compare LABEL TREE: build (and list) with both and compare
  local label=$1 tree=$2
  for side in old new; do
    local bin=${!side} state=$work/$label-$side
    rm -rf "$state" && mkdir -p "$state"
    frozen "$bin" --drive "C=$tree" --state "$state" -q build >/dev/null 2>&1 || true
    frozen "$bin" --drive "C=$tree" --state "$state" --json ls -r 'C:\' >"$state.ls" 2>/dev/null || true
  done
  if cmp -s "$work/$label-old/PWDRVMAP.DAT" "$work/$label-new/PWDRVMAP.DAT" && cmp -s "$work/$label-old.ls" \
    "$work/$label-new.ls"; then
    echo "same: $label ($(stat -c %s "$work/$label-new/PWDRVMAP.DAT") bytes of map file)"
  else
    echo "DIFFERENT: $label"
    status=1
  fi
}

# A sync after changes: both start from the same map file of a copy of the edge tree.
compare_sync() {
  local copy=$work/sync-tree
  cp -a "$edge/Bin" "$copy"
  local base=$work/sync-base
  mkdir -p "$base"
  frozen "$old" --drive "C=$copy" --state "$base" -q build >/dev/null 2>&1
  rm -f "$copy/file1.txt" && echo changed >"$copy/file2.txt" && mkdir -p "$copy/New/Sub" &&
    cp "$copy"/*.dll "$copy/New/Sub/" && echo new >"$copy/New/n.txt" && touch -d '2001-01-01' "$copy/file3.txt"
  for side in old new; do
    local state=$work/sync-$side
    mkdir -p "$state" && cp "$base/PWDRVMAP.DAT" "$base/PURGWELL.DAT" "$state/"
    frozen "${!side}" --drive "C=$copy" --state "$state" -q sync 2>/dev/null | grep -E '^(Changed|Nothing)' \
      >"$state.changes" || true
  done
  if cmp -s "$base/PWDRVMAP.DAT" "$work/sync-new/PWDRVMAP.DAT"; then
    echo "DIFFERENT: the sync saved no change"
    status=1
  elif cmp -s "$work/sync-old/PWDRVMAP.DAT" "$work/sync-new/PWDRVMAP.DAT" &&
    cmp -s "$work/sync-old.changes" "$work/sync-new.changes"; then
    echo "same: sync after changes ($(cat "$work/sync-new.changes"))"
  else
    echo "DIFFERENT: sync after changes"
    status=1
  fi
}

make_edge_tree
if [ $# -eq 0 ]; then set -- /usr; fi
for tree in "$@"; do compare "$(basename "$tree")" "$tree"; done
compare edge-tree "$edge"
compare_sync
exit $status
