#include "store/entry_lookup.h"

#include "store/path_lookup.h"
#include "support/path_utils.h"

#include <cstring>

BOOL LookUpEntry(LPCSTR path, EntryPosition *position, LPSTR lookedUp, DWORD *pError) {
    std::memset(position, 0, sizeof *position);
    if (lookedUp != nullptr) lookedUp[0] = '\0';
    if (path == nullptr || !IsFullPath(path) || std::strlen(path) >= PATH_BUFFER_SIZE) {
        *pError = DRIVEMAP_NOT_FOUND;
        return 0;
    }
    CHAR current[PATH_BUFFER_SIZE];
    std::strcpy(current, path);
    const DWORD outcome = LookUpFullPath(current, position);
    if (lookedUp != nullptr) std::strcpy(lookedUp, current);
    if (outcome == LOOKUP_FOUND) return 1;
    *pError = outcome == LOOKUP_NOT_IN_MAP ? DRIVEMAP_NOT_FOUND : DRIVEMAP_DRIVE_NOT_MAPPED;
    return 0;
}
