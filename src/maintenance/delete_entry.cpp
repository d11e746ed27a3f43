// DriveMap_DeleteEntry: a file or directory is gone. The disk is not consulted: the record goes
// even if the file is still there.
#include "maintenance/entry_changes.h"

#include "store/directory_blocks.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/reference_buffer.h"

#include <cstring>

BOOL DeletePathEntry(LPCSTR path) {
    ExportFrame frame(MODE_DELETE, FRAME_RESTORES_CRITICAL);
    if (!IsChangePath(path)) return frame.Fail(DRIVEMAP_NOT_FOUND);
    if (const DWORD code = EnsureReferenceBuffer(); code != DRIVEMAP_OK) return frame.Fail(code);

    CHAR workPath[PATH_BUFFER_SIZE];
    strcpy(workPath, path);
    EntryPosition position;
    switch (LookUpFullPath(workPath, &position)) {
    case LOOKUP_FOUND: return RemoveEntry(&position);  // 0 for a drive root, which has no record
    case LOOKUP_NOT_IN_MAP: return frame.Fail(DRIVEMAP_NOT_FOUND);
    default: return frame.Fail(DRIVEMAP_DRIVE_NOT_MAPPED);
    }
}

extern "C" BOOL WINAPI DriveMap_DeleteEntry(DWORD /*callerValue*/, LPCSTR path) {
    if (RefusedWhileCritical()) return FALSE;
    return DeletePathEntry(path);
}
