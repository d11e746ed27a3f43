// DriveMap_GetEntry and DriveMap_GetFullPath: the lookups that hand callers positions in the map
// and paths of records.
#include "pwdvmp32.h"

#include "store/entry_lookup.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/ptr32.h"

#include <cstring>

// Codes 2 and 8 as LookUpEntry gives them; on failure the caller's position holds what the last
// lookup left (the deepest block reached, no entry), or none.
extern "C" BOOL WINAPI DriveMap_GetEntry(DWORD callerValue, LPCSTR path, EntryPosition *position) {
    ExportFrame frame(MODE_QUERY, FRAME_CLEARS_CRITICAL);
    EntryPosition found = {0, 0};
    BOOL result = LookUpEntry(path, &found, /*lookedUp=*/nullptr, &frame.dwErrorCode);
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
