#!/usr/bin/env bash
# Sets up this machine, then builds and tests every build: Linux x86_64 (with the DLL cross-built
# and its export table checked), Linux i386 under qemu-i386, and x86_64 again under
# AddressSanitizer and UndefinedBehaviorSanitizer; then the libFuzzer targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

jobs=$(nproc)
status=0
echo "=== mingw-i686: the Windows DLL on its own preset"
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$jobs"

for preset in linux-x64 linux-i386 linux-x64-asan; do
  echo "=== $preset: configure and build"
  extra=(-DPWDVMP32_EXPORT_CHECK=ON)
  # The export check runs in the plain builds; the sanitizer build skips the DLL.
  [ "$preset" = linux-x64-asan ] && extra=(-DPWDVMP32_EXPORT_CHECK=OFF)
  cmake --preset "$preset" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs" || status=1
done

echo "=== fuzz: every parser of outside bytes, bounded time each"
scripts/fuzz-all.sh || status=1

exit $status
