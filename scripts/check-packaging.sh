#!/usr/bin/env bash
# Checks what a user gets from the packages, with the build tree out of reach: cpack's Debian
# package (lintian, then unpacked into a scratch root: drivemap --version, the map of a small
# Wine-style prefix, the manual page) and Windows SDK zip (its files), and examples/ built against
# `cmake --install` in a temporary prefix and run on that map.
# Needs the linux-x64 and mingw-i686 builds, as scripts/test-all.sh leaves them.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
away=build.out-of-reach
restore() {
  [ -d "$away" ] && mv "$away" build
  rm -rf "$scratch"
}
trap restore EXIT
step() { echo "--- packaging: $*"; }
fail() {
  echo "packaging: $*" >&2
  exit 1
}

step "cpack: the Debian package of linux-x64, the SDK zip of mingw-i686"
for preset in linux-x64 mingw-i686; do
  rm -rf "build/$preset/packages"
  (cd "build/$preset" && cpack >/dev/null)
done
deb=$(echo build/linux-x64/packages/*.deb)
zip=$(echo build/mingw-i686/packages/*.zip)
ls -l "$deb" "$zip"
dpkg-deb --field "$deb" Package Version Depends
if command -v lintian >/dev/null; then
  step "lintian"
  # One package holds the tool, the libraries and their development files: Debian would split
  # them (libpwdvmp32-0, libwin32host0, -dev) and keep the .pc in the multiarch directory. Its
  # changelog is ours, not in Debian's format; CPack's maintainer scripts call ldconfig.
  lintian --fail-on error,warning --suppress-tags \
    link-to-shared-library-in-wrong-package,package-name-doesnt-match-sonames,pkg-config-unavailable-for-cross-compilation,syntax-error-in-debian-changelog,maintscript-calls-ldconfig \
    "$deb"
fi
sdk=$(cmake -E tar tf "$zip")
for file in bin/PWDVMP32.DLL lib/libPWDVMP32.dll.a lib/PWDVMP32.def include/pwdvmp32.h README.md LICENSE; do
  grep -q "/$file\$" <<<"$sdk" || fail "$zip has no $file"
done

step "installing: dpkg -x into a scratch root, cmake --install into a temporary prefix"
dpkg -x "$deb" "$scratch/root"
cmake --install build/linux-x64 --prefix "$scratch/prefix" >/dev/null
scripts/make-sample-prefix.sh "$scratch/wine" >/dev/null
mv build "$away"

step "the packaged drivemap, the build tree gone"
drivemap=$scratch/root/usr/bin/drivemap
"$drivemap" --version
"$drivemap" --prefix "$scratch/wine" --state "$scratch/state" --quiet build
man -l "$scratch/root/usr/share/man/man1/drivemap.1.gz" | grep -q "drivemap ls \[OPTIONS\] PATH" ||
  fail "the manual page lacks the commands"
bash -n "$scratch/root/usr/share/bash-completion/completions/drivemap"

step "examples/ against the installed CMake package"
cmake -S examples -B "$scratch/example" -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCMAKE_C_FLAGS="-Wall -Werror" >/dev/null
cmake --build "$scratch/example" >/dev/null
users=$("$scratch/example/who_uses" "$scratch/wine/drive_c" "$scratch/state" 'C:\windows\system32\libwinpthread-1.dll')
echo "$users"
grep -qi 'viewer\.exe$' <<<"$users" || fail "who_uses did not find viewer.exe"
step "done"
