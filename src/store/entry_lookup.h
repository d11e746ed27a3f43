// Looking up the record of a full path the way the exports that take a path do: a path on a
// substituted drive is looked up again under its true path, and a failure tells a drive the map
// covers (not found) from one it does not.
#pragma once

#include "pwdvmp32.h"

// Resolves `path` to *position. Returns 1, or 0 with *pError = DRIVEMAP_NOT_FOUND for a missing,
// empty or relative path, one of more than 299 characters (refused rather than cut: a cut path
// would name another record) and a path on a fixed drive that the map does not hold, or
// DRIVEMAP_DRIVE_NOT_MAPPED for a path on any other kind of drive. A path on a substituted drive
// is looked up again as its true path, once: a true path that is itself on a substituted drive,
// or that cannot be had, ends with DRIVEMAP_DRIVE_NOT_MAPPED. On failure *position holds what the
// last lookup left (the deepest block reached, no entry), or none. With `lookedUp` (300 bytes),
// the path last looked up (the true path after a rewrite) is copied there; it is empty when the
// path was refused before any lookup.
BOOL LookUpEntry(LPCSTR path, EntryPosition *position, LPSTR lookedUp, DWORD *pError);
