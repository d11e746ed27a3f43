#!/usr/bin/env bash
# Fails when a C or C++ source differs from what clang-format makes of it (.clang-format at the top).
# With file arguments it checks those; without, every tracked source.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then files=("$@"); else mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h'); fi
[ ${#files[@]} -gt 0 ] || exit 0
clang-format --dry-run --Werror "${files[@]}"
