// The never-scanned list: file extensions whose files are never read for module references,
// loaded from the settings data file when the library is loaded and freed when it is unloaded.
#pragma once

#include "pwdvmp32.h"

// Loads the list from the settings data file beside the running program. The library works
// without it (every executable is scanned), so failure is not reported.
void LoadNeverScannedList();

// Frees the list; safe when it was never loaded.
void FreeNeverScannedList();
