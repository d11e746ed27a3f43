// DriveMap_IncrementEntryUsageCount: the client used a file a number of times.
#include "maintenance/entry_changes.h"

#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/reference_buffer.h"
#include "support/dos_time.h"

#include <cstring>

namespace {

void StampUsedNow(EntryRecord *record) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    WORD usedDate = 0, usedTime = 0;
    GetLocalDosDateTime(&now, &usedDate, &usedTime);
    BYTE *tail = GetFileTail(record);
    StoreField<WORD>(tail + FILE_TAIL_USED_DATE, usedDate);
    StoreField<WORD>(tail + FILE_TAIL_USED_TIME, usedTime);
}

}  // namespace

// Only the low 16 bits of the increment count, and the count wraps at 65,536. A file on disk that
// the map does not hold is added with the increment as its count. Error codes: 1 for a path
// IsChangePath refuses, a drive root, or a file that cannot be added; 3 when the reference buffer
// cannot be had; 8 for a drive the map does not cover. Every call that gets as far as the lookup
// leaves the dirty flag set, even when nothing changed.
extern "C" BOOL WINAPI DriveMap_IncrementEntryUsageCount(DWORD /*callerValue*/, LPCSTR path, DWORD increment) {
    if (RefusedWhileCritical()) return FALSE;
    ExportFrame frame(MODE_USAGE, FRAME_CLEARS_CRITICAL);
    ScanBuffersRelease release;
    if (!IsChangePath(path)) return frame.Fail(DRIVEMAP_BAD_PATH);
    if (const DWORD code = EnsureReferenceBuffer(); code != DRIVEMAP_OK) return frame.Fail(code);
    gDirtyFlag = 1;

    const WORD uses = static_cast<WORD>(increment & 0xFFFF);
    CHAR workPath[PATH_BUFFER_SIZE];
    strcpy(workPath, path);
    EntryPosition position;
    switch (LookUpFullPath(workPath, &position)) {
    case LOOKUP_FOUND: {
        EntryRecord *entry = LoadPtr32<EntryRecord>(&position.pEntry);
        if (entry == nullptr) return frame.Fail(DRIVEMAP_BAD_PATH);
        if (IsFile(entry)) {
            SetUsageCount(entry, static_cast<WORD>(GetUsageCount(entry) + uses));
            StampUsedNow(entry);
        }
        return TRUE;
    }
    case LOOKUP_NOT_IN_MAP: return RecordUnmappedPath(workPath, uses, &frame.dwErrorCode);
    default: return frame.Fail(DRIVEMAP_DRIVE_NOT_MAPPED);
    }
}
