// DriveMap_GetFilesWithExtension: the full paths of every mapped file with a given extension, as
// one multi-string list in global memory, depth first in drive-table order (a subdirectory's files
// where its record stands among its parent's records).
//
// The list grows as it is written, so that no number of files can write past it. If it cannot
// grow, the search ends without a list (result 0): a list that silently lacks files would tell an
// uninstaller that they do not exist.
#include "pwdvmp32.h"

#include "store/block_layout.h"
#include "store/drive_table.h"
#include "store/export_frame.h"
#include "store/map_release.h"
#include "support/path_utils.h"

#include <cstring>

#define EXTENSION_LIST_SIZE 196602u  // asked for first (0x2FFFA), then less by EXTENSION_LIST_STEP
#define EXTENSION_LIST_STEP 2048u
#define EXTENSION_LIST_SLACK 3u  // room always kept: the list's closing NUL and two spare zero bytes

namespace {

// Releasing the map drops the search's state (no list is ever live then: the search runs under the
// critical flag, which a release waits for).
void ForgetExtensionSearch() { std::memset(&gExtensionSearch, 0, sizeof gExtensionSearch); }
MAP_RELEASE_FUNCTION(ForgetExtensionSearch);

// Resizes the locked list to cbNew bytes (new bytes zero). 0, the list unchanged, on failure.
BOOL ResizeList(DWORD cbNew) {
    HGLOBAL handle = GlobalHandle(gExtensionSearch.pList);
    GlobalUnlock(handle);
    HGLOBAL resized = GlobalReAlloc(handle, cbNew, GMEM_MOVEABLE | GMEM_ZEROINIT);
    gExtensionSearch.pList = static_cast<LPSTR>(GlobalLock(resized != nullptr ? resized : handle));
    if (resized == nullptr) return 0;
    gExtensionSearch.cbList = cbNew;
    return 1;
}

// Appends `path` and its NUL at the write position, growing the list first when it lacks room:
// twice its size, or, when that cannot be had, just enough.
BOOL AppendToList(LPCSTR path) {
    const DWORD cbPath = static_cast<DWORD>(std::strlen(path)) + 1;
    const DWORD cbNeeded = gExtensionSearch.dwWrite + cbPath + EXTENSION_LIST_SLACK;
    if (cbNeeded > gExtensionSearch.cbList) {
        const DWORD cbDoubled = gExtensionSearch.cbList <= 0x7FFFFFFFu ? 2 * gExtensionSearch.cbList : cbNeeded;
        if (!ResizeList(cbDoubled > cbNeeded ? cbDoubled : cbNeeded) && !ResizeList(cbNeeded)) {
            gExtensionSearch.fOutOfMemory = TRUE;
            return 0;
        }
    }
    std::memcpy(gExtensionSearch.pList + gExtensionSearch.dwWrite, path, cbPath);
    gExtensionSearch.dwWrite += cbPath;
    return 1;
}

// Collects the files of `block` and, in place, of its subdirectories. Records whose full path
// would pass 299 characters are passed over: no map path is that long, and a cut one would name
// another file.
void CollectFilesWithExtension(const DirectoryBlock *block) {
    if (block == nullptr) return;
    const size_t cchPath = std::strlen(gExtensionSearch.szCurrentPath);
    ForEachEntry(block, [&](const EntryRecord *entry) -> bool {
        LPCSTR name = GetEntryName(entry);
        if (JoinedPathLength(gExtensionSearch.szCurrentPath, name) >= PATH_BUFFER_SIZE) return false;
        if (IsFile(entry)) {
            GetFileExtension(gExtensionSearch.szFileExtension, name);
            if (CompareTextNoCase(gExtensionSearch.szFileExtension, gExtensionSearch.szExtension) != 0) return false;
            AppendPathComponent(gExtensionSearch.szCurrentPath, name);
            AppendToList(gExtensionSearch.szCurrentPath);
        } else {
            AppendPathComponent(gExtensionSearch.szCurrentPath, name);
            CollectFilesWithExtension(GetChildBlock(entry));
        }
        gExtensionSearch.szCurrentPath[cchPath] = '\0';
        return gExtensionSearch.fOutOfMemory != 0;
    });
}

}  // namespace

// The extension is compared without regard to case and without its dot ("exe"; ".exe" matches
// nothing; "" matches the files that have none). Result 1 with *list the list (the caller unlocks
// and frees it), or with *list none when no file matched; result 0 with *list none when no list
// could be had, at the start or while it grew. Error code 0 in every case.
extern "C" BOOL WINAPI DriveMap_GetFilesWithExtension(LPCSTR extension, LPSTR *list) {
    ExportFrame frame(MODE_QUERY, FRAME_CLEARS_CRITICAL);
    if (list == nullptr) return FALSE;
    *list = nullptr;
    gExtensionSearch.cbList = EXTENSION_LIST_SIZE;
    gExtensionSearch.pList = static_cast<LPSTR>(AllocLockedBuffer(&gExtensionSearch.cbList, EXTENSION_LIST_STEP));
    if (gExtensionSearch.pList == nullptr) return FALSE;

    gExtensionSearch.dwWrite = 0;
    gExtensionSearch.fOutOfMemory = FALSE;
    // An extension longer than any name's matches nothing.
    const BOOL searchable = extension != nullptr && std::strlen(extension) < PATH_BUFFER_SIZE;
    if (searchable) std::strcpy(gExtensionSearch.szExtension, extension);
    for (DWORD i = 0; searchable && i < DriveCount() && !gExtensionSearch.fOutOfMemory; ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        if (GetDriveRoot(drive) == nullptr) continue;
        CurrentDriveScope scope(drive);
        const CHAR root[] = {static_cast<CHAR>(drive->chLetter), ':', '\\', '\0'};
        std::strcpy(gExtensionSearch.szCurrentPath, root);
        CollectFilesWithExtension(GetDriveRoot(drive));
    }

    const BOOL result = !gExtensionSearch.fOutOfMemory;
    if (result && gExtensionSearch.dwWrite > 0) {
        // Cut back to the list, its closing NUL and two zero bytes more; a failed cut keeps the
        // larger block, which holds the same.
        gExtensionSearch.pList[gExtensionSearch.dwWrite] = '\0';
        ResizeList(gExtensionSearch.dwWrite + EXTENSION_LIST_SLACK);
        *list = gExtensionSearch.pList;
    } else {
        FreeLockedBuffer(gExtensionSearch.pList);
    }
    gExtensionSearch.pList = nullptr;
    return result;
}
