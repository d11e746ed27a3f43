#include "scan/directory_walker.h"

#include "store/module_state.h"
#include "support/find_entry.h"
#include "support/message_pump.h"
#include "support/limits.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

const CHAR kAllFiles[] = "*.*";
const DWORD kPatternRoom = 4;  // "\*.*" appended to a directory's path to list it

BOOL IsSubdirectory(const FIND_DATA &find) { return (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Whether the entry can be named below the current path: a file's full path must fit, and a
// directory's with room to list it.
BOOL FitsBelowCurrentPath(const FIND_DATA &find) {
    const size_t cchPath = std::strlen(gWalk.currentPath) + 1 + std::strlen(find.cFileName);
    return cchPath + (IsSubdirectory(find) ? kPatternRoom : 0) < PATH_BUFFER_SIZE;
}

// A search over the current directory with `pattern`; the path is left as it was. The path is cut
// back by length, not at a separator: a name may hold a ':' that a separator search would cut at.
HANDLE OpenListing(LPCSTR pattern, FIND_DATA *pFind) {
    const size_t cchPath = std::strlen(gWalk.currentPath);
    AppendPathComponent(gWalk.currentPath, pattern);
    HANDLE hFind = FindFirstEntry(gWalk.currentPath, gWalk.searchMask, pFind);
    gWalk.currentPath[cchPath] = '\0';
    return hFind;
}

void WalkDirectory(LPSTR recordAt);

// Walks the subdirectory `name` of the current directory.
void WalkSubdirectory(LPCSTR name, LPSTR recordAt) {
    const size_t cchPath = std::strlen(gWalk.currentPath);
    AppendPathComponent(gWalk.currentPath, name);
    WalkDirectory(recordAt);
    gWalk.currentPath[cchPath] = '\0';
}

// Lists the directory again for its subdirectories: the name buffer was missing or full.
void WalkSubdirectoriesByListing(DWORD cSubdirectories, LPSTR recordAt) {
    FIND_DATA find;
    HANDLE hFind = OpenListing(kAllFiles, &find);
    if (hFind == INVALID_HANDLE_VALUE) return;
    DWORD cWalked = 0;
    do {
        if (!IsSubdirectory(find) || find.cFileName[0] == '.' || !FitsBelowCurrentPath(find)) continue;
        WalkSubdirectory(find.cFileName, recordAt);
        ++cWalked;
        if (GetStopFlag() == 1 || (gWalk.allFilesPattern && cWalked >= cSubdirectories)) break;
    } while (FindNextEntry(hFind, &find));
    FindCloseEntry(hFind);
}

// Walks the current directory. `recordAt` is where this level may record its subdirectories'
// names in the name buffer, or none.
void WalkDirectory(LPSTR recordAt) {
    DWORD cSubdirectories = 0;
    LPSTR writeAt = recordAt;
    BOOL recording = recordAt != nullptr;
    PumpMessages();

    if (!CallDirCallback(DIR_EVENT_ENTER) || GetStopFlag() == 1) return;

    FIND_DATA find;
    HANDLE hFind = OpenListing(gWalk.pattern, &find);
    // A directory that cannot be listed is walked as empty; one that could not be listed for want
    // of memory would be mapped empty although it is not, so the walk stops there instead.
    if (hFind == INVALID_HANDLE_VALUE && GetLastError() == ERROR_NOT_ENOUGH_MEMORY) {
        gWalk.fOutOfMemory = TRUE;
        SetStopFlag(1);
    }
    if (hFind != INVALID_HANDLE_VALUE) {
        const LPSTR bufferEnd = gWalk.nameBuffer + gWalk.cbNameBuffer;
        do {
            PumpMessages();
            if (IsSubdirectory(find) && find.cFileName[0] == '.') continue;
            if (GetStopFlag() == 1) break;
            if (!FitsBelowCurrentPath(find)) continue;
            if (IsSubdirectory(find)) {
                ++cSubdirectories;
                if (recording) {
                    const size_t cbName = std::strlen(find.cFileName) + 1;
                    if (static_cast<size_t>(bufferEnd - writeAt) >= cbName) {
                        std::memcpy(writeAt, find.cFileName, cbName);
                        writeAt += cbName;
                    } else {
                        recording = FALSE;
                    }
                }
                if ((gWalk.flags & WALK_DIRS_AS_FILES) == 0) continue;
            }
            if (gWalk.fileCallback != nullptr) {
                std::strcpy(gWalk.fullName, gWalk.currentPath);
                AppendPathComponent(gWalk.fullName, find.cFileName);
                if (!gWalk.fileCallback(gWalk.context, gWalk.fullName, &find, gWalk.userValue)) {
                    SetStopFlag(1);
                    break;
                }
            }
        } while (FindNextEntry(hFind, &find));
        FindCloseEntry(hFind);
    }

    if (!CallDirCallback(DIR_EVENT_LISTED) || GetStopFlag() == 1) return;
    if (!CallDirCallback(DIR_EVENT_BEFORE_SUBDIRS)) return;

    // Other patterns (no caller uses one) always take the second pass, which lists "*.*".
    const BOOL descend = gWalk.allFilesPattern ? (gWalk.flags & WALK_RECURSE) != 0 && cSubdirectories > 0 : TRUE;
    if (descend) {
        if (recording && gWalk.allFilesPattern) {
            LPCSTR name = recordAt;
            for (DWORD i = 0; i < cSubdirectories && GetStopFlag() != 1; ++i) {
                WalkSubdirectory(name, writeAt);
                name += std::strlen(name) + 1;
            }
        } else {
            WalkSubdirectoriesByListing(cSubdirectories, recording ? recordAt : nullptr);
        }
    }

    CallDirCallback(DIR_EVENT_LEAVE);
}

}  // namespace

DWORD WalkDirectoryTree(void *context, LPCSTR startPath, LPCSTR pattern, DWORD flags, FileCallback fileCallback,
                        DirCallback dirCallback, LONG userValue) {
    // A start path or pattern the path buffers cannot hold names no directory the walk can list.
    if (std::strlen(startPath) >= PATH_BUFFER_SIZE || std::strlen(pattern) >= PATH_BUFFER_SIZE) return 0;
    PumpMessages();
    gWalk.context = context;
    gWalk.userValue = userValue;
    gWalk.flags = flags;
    gWalk.searchMask = SEARCH_FILES_AND_DIRS | ((flags & WALK_KEEP_CASE) != 0 ? SEARCH_KEEP_CASE : 0);
    std::strcpy(gWalk.pattern, pattern);
    gWalk.allFilesPattern = std::strcmp(gWalk.pattern, kAllFiles) == 0;
    gWalk.fileCallback = fileCallback;
    gWalk.dirCallback = dirCallback;
    gWalk.fOutOfMemory = FALSE;

    CHAR savedDirectory[PATH_BUFFER_SIZE];
    if (!EnterDirectory(startPath, savedDirectory)) return 0;
    std::strcpy(gWalk.currentPath, startPath);

    gWalk.cbNameBuffer = WALK_NAME_BUFFER_SIZE;
    gWalk.nameBuffer = static_cast<LPSTR>(AllocLockedBuffer(&gWalk.cbNameBuffer, WALK_NAME_BUFFER_STEP));
    if (gWalk.nameBuffer == nullptr) gWalk.cbNameBuffer = 0;

    SetStopFlag(0);
    WalkDirectory(gWalk.nameBuffer);
    if ((flags & WALK_SET_STOP_AFTER) != 0) SetStopFlag(1);

    FreeLockedBuffer(gWalk.nameBuffer);
    gWalk.nameBuffer = nullptr;
    EnterDirectory(savedDirectory, nullptr);
    return 1;
}

DWORD GetWalkNameBufferSize() { return gWalk.cbNameBuffer; }

BOOL CallDirCallback(DWORD event) {
    if (gWalk.dirCallback == nullptr) return TRUE;
    if (gWalk.dirCallback(gWalk.context, event, gWalk.currentPath, const_cast<LPSTR>(""), gWalk.userValue)) return TRUE;
    SetStopFlag(1);
    return FALSE;
}
