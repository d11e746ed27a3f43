// DriveMap_GetEntry and DriveMap_GetFullPath: the lookups that hand callers positions in the map
// and paths of records.
#include "pwdvmp32.h"

#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/ptr32.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// The lookup behind DriveMap_GetEntry; *pError receives the code of a failure.
BOOL LookUpEntry(LPCSTR path, EntryPosition *position, DWORD *pError) {
    if (!IsFullPath(path) || strlen(path) >= PATH_BUFFER_SIZE) {
        *pError = DRIVEMAP_NOT_FOUND;
        return 0;
    }
    CHAR current[PATH_BUFFER_SIZE];
    strcpy(current, path);
    switch (LookUpFullPath(current, position)) {
    case LOOKUP_FOUND: return 1;
    case LOOKUP_NOT_IN_MAP: *pError = DRIVEMAP_NOT_FOUND; return 0;
    default: *pError = DRIVEMAP_DRIVE_NOT_MAPPED; return 0;
    }
}

}  // namespace

// Error 2 for a missing, empty or relative path, and for one longer than 299 characters, which is
// refused rather than cut (a cut path would name another record). A path on a substituted drive
// is looked up again as its true path, once: a true path that is itself on a substituted drive, or
// that cannot be had, ends with 8 like any drive the map does not cover. On failure the caller's
// position holds what the last lookup left (the deepest block reached, no entry), or none.
extern "C" BOOL WINAPI DriveMap_GetEntry(DWORD callerValue, LPCSTR path, EntryPosition *position) {
    ExportFrame frame(MODE_QUERY, FRAME_CLEARS_CRITICAL);
    EntryPosition found = {0, 0};
    BOOL result = LookUpEntry(path, &found, &frame.dwErrorCode);
    if (position != nullptr) memcpy(position, &found, sizeof found);
    return result;
}

// A position with no entry gives its directory's path ending in a backslash ("X:\" for a drive's
// root). The caller's buffer is taken to be 300 bytes: a path longer than 299 characters leaves it
// empty and returns 0 rather than a cut path. Stores error code 0 in every case.
extern "C" BOOL WINAPI DriveMap_GetFullPath(LPSTR buffer, const EntryPosition *position) {
    ExportFrame frame(MODE_QUERY, FRAME_CLEARS_CRITICAL);
    if (buffer == nullptr) return 0;
    buffer[0] = '\0';
    if (position == nullptr) return 0;
    return BuildFullPath(buffer, LoadPtr32<DirectoryBlock>(&position->pBlock),
                         LoadPtr32<EntryRecord>(&position->pEntry));
}
