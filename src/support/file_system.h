// Questions and small changes on the real file system: existence of directories and files, the
// file system's spelling of a path, deleting one file, setting attributes. No state.
#pragma once

#include "win32.h"

// Non-zero when `path` names an existing directory, or is a drive root that can be made current
// (the answer is then the length of that drive's current directory). A trailing backslash is
// removed for the test and put back, so the text must be writable. A name beginning with a dot
// counts as missing. Wildcards match: any directory that fits the pattern gives 1.
DWORD DirectoryExists(LPSTR path);

// 1 when `path` names an existing entry that is not a directory and whose name does not begin
// with a dot; wildcards match as in DirectoryExists.
BOOL FileExists(LPCSTR path);

// Writes into `dest` (PATH_BUFFER_SIZE bytes, not `path`) the full path `path` with every
// component spelt as the file system reports it. Returns 0 when every component was found (a path
// beginning with a backslash leaves only GetPathRoot's result in `dest`, and 0), 1 when the path
// is empty or a component is missing: the components before it are corrected, it and the rest
// keep the caller's spelling. Truncates at 299 characters.
BOOL GetTrueCasePath(LPSTR dest, LPCSTR path);

// DeleteFileA of one file. A pattern is refused: 0 with the last error ERROR_FILE_NOT_FOUND.
BOOL DeleteSingleFile(LPCSTR path);

// SetFileAttributesA; its result is not reported.
void SetAttributes(LPCSTR path, DWORD dwAttributes);

// 1 when the text contains '*' or '?'.
BOOL HasWildcards(LPCSTR text);
