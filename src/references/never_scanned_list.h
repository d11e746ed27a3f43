// The never-scanned list: file extensions whose files are never read for module references,
// loaded from the settings data file when the library is loaded and freed when it is unloaded.
#pragma once

#include "pwdvmp32.h"

// Loads section "NonNEPEFiles" from the settings data file beside the running program. The library
// works without it (every file is scanned), so failure is not reported.
void LoadNeverScannedList();

// Frees the list; safe when it was never loaded.
void FreeNeverScannedList();

// 1 when the file at `path` is not to be opened for references: the list is loaded and the file
// has no extension or one the list holds ("exe" and "dll" never count). 0 when no list is loaded.
BOOL IsNeverScannedFile(LPCSTR path);
