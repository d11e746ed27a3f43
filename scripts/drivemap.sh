#!/usr/bin/env bash
# Sets up this machine for drivemap alone (scripts/packages/cli.txt), builds it (the `drivemap`
# preset: no tests, no Windows DLL) and runs it with the given arguments:
# `scripts/drivemap.sh build` builds the map of this machine and prints its statistics.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "drivemap.sh: $*" >&2; }

say "checking the Debian packages drivemap needs (scripts/packages/cli.txt)"
scripts/install-dependencies.sh cli >&2
say "configuring and building drivemap (several minutes the first time; ninja shows its progress)"
cmake --preset drivemap >/dev/null
cmake --build --preset drivemap >&2
say "running: drivemap $*"
exec build/drivemap/tools/drivemap/drivemap "$@"
