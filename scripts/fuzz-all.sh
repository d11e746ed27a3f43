#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (FUZZ_SECONDS, default
# 60) from its seed corpus in fuzz/corpus/<name> if there is one. Any crash, leak or sanitizer
# report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
shopt -s nullglob
for target in build/fuzz/fuzz/*_fuzz; do
  name=$(basename "$target")
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "=== fuzz: $name for ${seconds} s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 "$work" 2>&1 | tail -15
  rm -rf "$work"
done
