#!/usr/bin/env bash
# Sets up this machine, builds drivemap (x86_64) and runs it with the given arguments:
# `scripts/drivemap.sh build` builds the map of this machine and prints its statistics.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh >&2
cmake --preset linux-x64 -DPWDVMP32_EXPORT_CHECK=OFF >/dev/null
cmake --build --preset linux-x64 --target drivemap pwdvmp32 >/dev/null
exec build/linux-x64/tools/drivemap/drivemap "$@"
