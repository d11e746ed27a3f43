#!/usr/bin/env bash
# Sets up this machine, checks the sources' layout and layering, then builds and tests every build:
# the Windows DLL once (its export table is checked by the Linux x86_64 build), Linux x86_64, Linux
# i386 (natively or under qemu-i386; its end-to-end tests run against the DLL too), and x86_64
# again under AddressSanitizer and UndefinedBehaviorSanitizer; then the packages
# (scripts/check-packaging.sh) and the libFuzzer targets for a bounded time. Compiler warnings are
# errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

jobs=$(nproc)
status=0
phase() { echo "=== $* (at ${SECONDS} s)"; }
phase "layout: clang-format on every source, include layering"
scripts/check-format.sh || status=1
scripts/include-graph.py || status=1

phase "mingw-i686: PWDVMP32.DLL"
cmake --preset mingw-i686 -DPWDVMP32_WERROR=ON >/dev/null
cmake --build --preset mingw-i686 -j "$jobs"
dll=$PWD/build/mingw-i686/PWDVMP32.DLL

for preset in linux-x64 linux-i386 linux-x64-asan; do
  phase "$preset: configure and build"
  # The export and import tables of the DLL built above are checked once, by the plain x86_64
  # build; the i386 build runs the end-to-end tests against it a second time.
  check=(-DPWDVMP32_EXPORT_CHECK=OFF)
  [ "$preset" = linux-x64 ] && check=(-DPWDVMP32_EXPORT_CHECK=ON "-DPWDVMP32_DLL=$dll")
  [ "$preset" = linux-i386 ] && check=(-DPWDVMP32_EXPORT_CHECK=OFF "-DPWDVMP32_DLL=$dll")
  cmake --preset "$preset" -DPWDVMP32_WERROR=ON "${check[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  phase "$preset: test"
  ctest --preset "$preset" -j "$jobs" || status=1
done

phase "packaging: the .deb and the SDK zip, installed and used without the build tree"
scripts/check-packaging.sh || status=1

phase "fuzz: every parser of outside bytes, bounded time each"
scripts/fuzz-all.sh || status=1

phase "done, status $status"
exit $status
