// Directory searches that fill a FIND_DATA record, and changing the current directory.
//
// The search mask (dwSearchAttributes) decides two things: without FILE_ATTRIBUTE_DIRECTORY
// (0x10) directories are passed over, and without SEARCH_KEEP_CASE a name that has no separate
// short form is re-cased like ProperCasePath ("README.TXT" comes back as "Readme.txt"). Read-only,
// hidden and system bits are carried but not tested: such files are always returned.
#pragma once

#include <cstddef>  // offsetof, for pwdvmp32.h's layout checks under <windows.h>

#include "pwdvmp32.h"

// The two masks the library searches with.
#define SEARCH_FILES_ONLY 0x07u      // read-only, hidden, system: files only
#define SEARCH_FILES_AND_DIRS 0x17u  // the same and directories

// Opens a search on `path` (a directory path ending in a name or pattern) and fills *pFind with
// the first entry the mask accepts: the platform's record, the DOS stamps of the last write and
// last access in local time, and the mask. Returns the search handle, or INVALID_HANDLE_VALUE
// when nothing acceptable was found (the search is then closed already).
HANDLE FindFirstEntry(LPCSTR path, DWORD dwSearchAttributes, FIND_DATA *pFind);

// The next entry that the record's mask accepts, filled as by FindFirstEntry. 0 at the end of the
// listing, with *pFind left as it was.
BOOL FindNextEntry(HANDLE hFind, FIND_DATA *pFind);

// Closes a search opened by FindFirstEntry.
BOOL FindCloseEntry(HANDLE hFind);

// Makes `path` (a full path) the current directory, its drive the current drive. With `saved` (at
// least PATH_BUFFER_SIZE bytes) the current directory is stored there first; passing that text
// back without a save buffer restores it. Returns 1, or 0 with the drive that was current before
// made current again.
BOOL EnterDirectory(LPCSTR path, LPSTR saved);
