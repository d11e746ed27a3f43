// DriveMap_UpdateEntry and DriveMap_UpdateSystemIniEntry: a file was written or created, and the
// map is brought into agreement with the disk for its path.
#include "maintenance/entry_changes.h"

#include "store/directory_blocks.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/reference_buffer.h"
#include "support/dos_time.h"
#include "support/find_entry.h"
#include "support/path_utils.h"

#include <cstring>

BOOL RefreshFileEntry(LPCSTR path, EntryPosition *position, DWORD * /*pError*/) {
    EntryRecord *entry = LoadPtr32<EntryRecord>(&position->pEntry);
    if (entry == nullptr) return 0;
    if (!IsFile(entry)) return 1;

    FIND_DATA find;
    HANDLE hFind = FindFirstEntry(path, SEARCH_FILES_ONLY, &find);
    if (hFind == INVALID_HANDLE_VALUE) return DeletePathEntry(path);
    FindCloseEntry(hFind);

    // The record is brought up to date where it stands; its length, flags, name and references
    // stay, so the file is not read for references again.
    SYSTEMTIME now;
    GetLocalTime(&now);
    WORD usedDate = 0, usedTime = 0;
    GetLocalDosDateTime(&now, &usedDate, &usedTime);
    SetEntryFileSize(entry, find.nFileSizeLow);
    SetUsageCount(entry, static_cast<WORD>(GetUsageCount(entry) + 1));
    BYTE *tail = GetFileTail(entry);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_DATE, find.wLastWriteDate);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_TIME, find.wLastWriteTime);
    StoreField<WORD>(tail + FILE_TAIL_USED_DATE, usedDate);
    StoreField<WORD>(tail + FILE_TAIL_USED_TIME, usedTime);
    gDirtyFlag = 1;
    return 1;
}

BOOL UpdatePathEntry(LPCSTR path) {
    ExportFrame frame(MODE_UPDATE, FRAME_RESTORES_CRITICAL);
    ScanBuffersRelease release;
    if (!IsChangePath(path)) return frame.Fail(DRIVEMAP_BAD_PATH);
    if (const DWORD code = EnsureReferenceBuffer(); code != DRIVEMAP_OK) return frame.Fail(code);

    CHAR workPath[PATH_BUFFER_SIZE];
    strcpy(workPath, path);
    EntryPosition position;
    switch (LookUpFullPath(workPath, &position)) {
    case LOOKUP_FOUND: return RefreshFileEntry(workPath, &position, &frame.dwErrorCode);
    case LOOKUP_NOT_IN_MAP: return RecordUnmappedPath(workPath, /*usageCount=*/1, &frame.dwErrorCode);
    default: return frame.Fail(DRIVEMAP_DRIVE_NOT_MAPPED);
    }
}

extern "C" BOOL WINAPI DriveMap_UpdateEntry(DWORD /*callerValue*/, LPCSTR path) {
    if (RefusedWhileCritical()) return FALSE;
    return UpdatePathEntry(path);
}

// Does not test the critical flag, and clears it at the end. It still refuses inside another
// export (from a window procedure while a scan, a save or an update pumps messages): changing
// records there would leave the running operation working on blocks that moved.
extern "C" BOOL WINAPI DriveMap_UpdateSystemIniEntry(void) {
    if (IsNestedExport()) return FALSE;
    ExportFrame frame(MODE_UPDATE, FRAME_CLEARS_CRITICAL);
    frame.fStoresCode = FALSE;  // the update stores its own

    static const CHAR kSystemIni[] = "SYSTEM.INI";
    CHAR path[PATH_BUFFER_SIZE];
    const UINT cchDirectory = GetWindowsDirectoryA(path, sizeof path);
    // A directory too long for the file's path is an absent path: a cut one would name another file.
    if (cchDirectory == 0 || cchDirectory + 1 + sizeof kSystemIni > sizeof path) return UpdatePathEntry(nullptr);
    return UpdatePathEntry(AppendPathComponent(path, kSystemIni));
}
