#!/usr/bin/env bash
# Installs the Debian packages every build and test needs. Runs apt-get only when something is
# missing, unless FORCE_APT=1 (CI sets it).
set -euo pipefail

packages=(
  cmake ninja-build g++                 # the native build
  g++-multilib                          # the i386 build (-m32)
  qemu-user                             # runs the i386 tests (qemu-i386)
  g++-mingw-w64-i686-posix              # cross-compiles PWDVMP32.DLL
  binutils-mingw-w64-i686               # i686-w64-mingw32-objdump reads the DLL's export table
  gcc-mingw-w64-x86-64-posix            # 64-bit (PE32+) programs for the import scanner's corpus test and the sample prefix
  binutils-mingw-w64-x86-64             # x86_64-w64-mingw32-objdump, -nm, -dlltool for that corpus test
  googletest libgtest-dev               # unit tests (the i386 build compiles /usr/src/googletest)
  libbenchmark-dev                      # benchmarks
  clang libclang-rt-14-dev              # libFuzzer targets (fuzz/)
  clang-format                          # the one source layout (.clang-format), checked in CI
  python3                               # scripts/include-graph.py, the layering check
  libboost-dev                          # Boost.Interprocess allocator of the host layer's global memory
  libcli11-dev                          # drivemap's command line
  nlohmann-json3-dev                    # drivemap's --json output
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${FORCE_APT:-0}" = 1 ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
fi
