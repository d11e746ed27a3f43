// The map file, PWDRVMAP.DAT: where it lives, loading it (DriveMap_ReadAll) and saving it
// (DriveMap_WriteAll, SaveMap).
#pragma once

#include "pwdvmp32.h"

// Closes gMapFile (state table: the map file's handle while a read or a save runs, the temporary
// file's during a save) if it is open. Part of releasing the map.
void CloseMapFile();

// Fills `path` (PATH_BUFFER_SIZE bytes) with the map file's full path: PWDRVMAP.DAT in the running
// program's directory, spelt as the file system stores it. A directory on a network drive is
// replaced by the Windows directory, and that too on a network drive by the first hard-disk or
// network root. A directory whose path would leave no room for the file name is refused the same
// way (never cut: a cut path names another file). Returns 1 when the file lies outside the
// program's directory (it is then saved hidden), else 0.
BOOL GetMapFilePath(LPSTR path);

// DriveMap_WriteAll without its refusal while the critical flag is set; the scans save with it
// (lockTest 0). Stores its error code and restores the critical flag.
BOOL SaveMap(DWORD callerValue, DWORD lockTest);
