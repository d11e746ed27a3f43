#!/usr/bin/env bash
# Makes a small Wine-style prefix of real PE files in DIR, for trying the drivemap queries:
#   drive_c/windows/system32  the MinGW-w64 runtime DLLs (libstdc++, libgcc, libwinpthread, ...)
#   drive_c/windows           a second copy of one of them, which shadows the System one
#   drive_c/Program Files/... GUI programs built here: one with a private helper DLL beside it,
#                             programs that use the shared runtime, one whose helper is gone;
#                             a 32-bit console program with its helper DLL (Console)
#   drive_c/Program Files/Tools64  a 64-bit console program with its helper DLL and the 64-bit
#                             MinGW-w64 runtime DLLs beside it, as such programs ship them
#   dosdevices/c: -> ../drive_c, dosdevices/z: -> /
# Needs i686-w64-mingw32-gcc and x86_64-w64-mingw32-gcc (scripts/packages/cross.txt lists their
# packages).
# Usage: scripts/make-sample-prefix.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
prefix=$1
cc=$(command -v i686-w64-mingw32-gcc-posix || command -v i686-w64-mingw32-gcc) ||
    { echo "$0: i686-w64-mingw32-gcc is missing (scripts/install-dependencies.sh cross)" >&2; exit 1; }
cc64=$(command -v x86_64-w64-mingw32-gcc-posix || command -v x86_64-w64-mingw32-gcc) ||
    { echo "$0: x86_64-w64-mingw32-gcc is missing (scripts/install-dependencies.sh cross)" >&2; exit 1; }
runtime=$(dirname "$($cc -print-libgcc-file-name)")
runtime64=$(dirname "$($cc64 -print-libgcc-file-name)")
c=$prefix/drive_c
mkdir -p "$c/windows/system32" "$c/Program Files/Editor" "$c/Program Files/Viewer" "$c/Program Files/Broken" \
    "$c/Program Files/Console" "$c/Program Files/Tools64" "$prefix/dosdevices"
ln -sfn ../drive_c "$prefix/dosdevices/c:"
ln -sfn / "$prefix/dosdevices/z:"

# The runtime DLLs, as a program's installer puts them in the System directory.
for dll in "$runtime"/*.dll /usr/i686-w64-mingw32/lib/libwinpthread-1.dll; do
    [ -f "$dll" ] && cp "$dll" "$c/windows/system32/"
done
for dll in "$runtime64"/*.dll /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll; do
    [ -f "$dll" ] && cp "$dll" "$c/Program Files/Tools64/"
done
# A copy in the Windows directory: found first, so the System copy is used by nobody.
cp "$c/windows/system32/libatomic-1.dll" "$c/windows/"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/helper.c" <<'C'
__declspec(dllexport) int helper_value(void) { return 42; }
C
cat >"$work/app.c" <<'C'
#include <windows.h>
__declspec(dllimport) int helper_value(void);
int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) { return helper_value(); }
C
cat >"$work/threads.c" <<'C'
#include <windows.h>
#include <pthread.h>
static void *run(void *p) { return p; }
int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) {
    pthread_t t;
    pthread_create(&t, 0, run, 0);
    return pthread_join(t, 0);
}
C
$cc -mwindows -shared -o "$work/edithelp.dll" "$work/helper.c"
cp "$work/edithelp.dll" "$c/Program Files/Editor/edithelp.dll"
cp "$work/edithelp.dll" "$c/Program Files/Viewer/unused.dll"  # nothing imports this name
$cc -mwindows -o "$c/Program Files/Editor/editor.exe" "$work/app.c" "$work/edithelp.dll"
$cc -mwindows -o "$c/Program Files/Viewer/viewer.exe" "$work/threads.c" -pthread -shared-libgcc
# The Broken program's helper was uninstalled: its DLL is gone.
$cc -mwindows -shared -o "$work/gonehelp.dll" "$work/helper.c"
$cc -mwindows -o "$c/Program Files/Broken/broken.exe" "$work/app.c" "$work/gonehelp.dll"
# Console programs, 32- and 64-bit, each with a helper DLL that only it uses.
cat >"$work/console.c" <<'C'
__declspec(dllimport) int helper_value(void);
int main(void) { return helper_value(); }
C
$cc -shared -o "$c/Program Files/Console/conhelp.dll" "$work/helper.c"
$cc -mconsole -o "$c/Program Files/Console/console.exe" "$work/console.c" "$c/Program Files/Console/conhelp.dll"
$cc64 -shared -o "$c/Program Files/Tools64/helper64.dll" "$work/helper.c"
$cc64 -mconsole -o "$c/Program Files/Tools64/tool64.exe" "$work/console.c" "$c/Program Files/Tools64/helper64.dll"
echo "$prefix: $(find "$c" -type f | wc -l) files"
