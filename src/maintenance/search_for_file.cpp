#include "maintenance/search_for_file.h"

#include "store/drive_table.h"
#include "store/path_lookup.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// Joins `directory` and `name` in `candidate` (300 bytes) and looks the join up in the map.
BOOL ResolveCandidate(LPSTR candidate, LPCSTR directory, LPCSTR name) {
    if (directory == nullptr || directory[0] == '\0') return 0;
    if (JoinedPathLength(directory, name) >= PATH_BUFFER_SIZE) return 0;
    std::strcpy(candidate, directory);
    AppendPathComponent(candidate, name);
    EntryPosition position;
    return ResolvePath(candidate, &position);
}

// The PATH step: each item of the expanded variable in turn. An expansion that does not fit the
// usual 10,240 bytes gets a buffer of its size; without one the name is not found there.
BOOL SearchPathDirsInMap(LPSTR candidate, LPCSTR name) {
    LPSTR value = ExpandPathVariable();
    if (value == nullptr) return 0;
    CHAR item[PATH_BUFFER_SIZE];
    BOOL found = 0;
    for (LPCSTR pos = value; !found && *pos != '\0';) {
        pos = NextSemicolonItem(item, pos);
        // An item cut at 299 characters would be another directory.
        found = std::strlen(item) < PATH_BUFFER_SIZE - 1 && ResolveCandidate(candidate, item, name);
    }
    FreeLockedBuffer(value);
    return found;
}

}  // namespace

BOOL SearchMapForFile(LPSTR result, LPCSTR name, LPCSTR directory, DWORD flags) {
    if (result == nullptr) return 0;
    result[0] = '\0';
    if (name == nullptr || name[0] == '\0') return 0;
    if (IsFullPath(name)) {
        if (std::strlen(name) >= PATH_BUFFER_SIZE) return 0;
        std::strcpy(result, name);
        return 1;
    }
    // A search may run inside another export's work on a drive (a window procedure called while
    // messages are pumped): the lookups must not leave another drive current.
    CurrentDriveScope keepDrive(gCurrentDrive);
    CHAR candidate[PATH_BUFFER_SIZE];
    const BOOL found = ((flags & FIND_GIVEN_DIR) != 0 && ResolveCandidate(candidate, directory, name)) ||
                       ((flags & FIND_WINDOWS_DIR) != 0 && ResolveCandidate(candidate, gWindowsDirectory, name)) ||
                       ((flags & FIND_SYSTEM_DIR) != 0 && ResolveCandidate(candidate, gSystemDirectory, name)) ||
                       ((flags & FIND_PATH_DIRS) != 0 && SearchPathDirsInMap(candidate, name));
    if (found) std::strcpy(result, candidate);
    return found;
}

// No frame: the searches leave the critical flag, the operation mode and the error code alone.
extern "C" BOOL WINAPI DriveMap_SearchForFile(LPSTR result, LPCSTR name, LPCSTR directory, DWORD flags) {
    return SearchMapForFile(result, name, directory, flags);
}
