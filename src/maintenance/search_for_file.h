// Where the map holds a name: the first of a caller's directory, the Windows directory, the System
// directory and the directories of PATH (in that order, each only when its FIND_* flag is set)
// whose path joined with the name resolves to a record, file or directory. The map is read, never
// the disk, and never changed.
#pragma once

#include "pwdvmp32.h"

// The places the reference query searches: the Windows and System directories and PATH.
#define FIND_SHARED_PLACES (FIND_WINDOWS_DIR | FIND_SYSTEM_DIR | FIND_PATH_DIRS)

// Writes to `result` (300 bytes) the first candidate that resolves, as built: the directory as
// written, one backslash, the name as given; or a full-path name itself, unasked. Returns 1, or 0
// with `result` empty. Only the low byte of `flags` counts. A join of more than 299 characters is
// not tried (cut, it would name another path), nor is a PATH item of 299 characters or more; a full
// path of more than 299 characters gives 0. The current drive is left as it was.
BOOL SearchMapForFile(LPSTR result, LPCSTR name, LPCSTR directory, DWORD flags);
