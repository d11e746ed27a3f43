#include "store/entry_lookup.h"

#include "scan/drive_class.h"
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
    BOOL found = 0;
    for (BOOL rewritten = 0;;) {
        if (ResolvePath(current, position)) {
            found = 1;
            break;
        }
        const DWORD driveClass = ClassifyDrive(current);
        if (driveClass == DRIVE_CLASS_SUBST && !rewritten) {
            CHAR truePath[PATH_BUFFER_SIZE];
            if (!GetFullPath(truePath, current)) {
                *pError = DRIVEMAP_DRIVE_NOT_MAPPED;
                break;
            }
            std::strcpy(current, truePath);
            rewritten = 1;
            continue;
        }
        *pError = driveClass == DRIVE_CLASS_FIXED ? DRIVEMAP_NOT_FOUND : DRIVEMAP_DRIVE_NOT_MAPPED;
        break;
    }
    if (lookedUp != nullptr) std::strcpy(lookedUp, current);
    return found;
}
