// DriveMap_Move: a file, or a directory with everything below it, now lies in another directory.
// Its record is carried over unchanged (size, stamps, usage count, flags, references, and its name:
// the new path's file name is not used) and not scanned again; the record at the old place goes.
#include "maintenance/entry_changes.h"

#include "scan/drive_class.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// `path` copied into `copy` (300 bytes), as its true path when it lies on a substituted drive:
// rewritten once, and kept as given when the true path cannot be had.
void CopyTruePath(LPSTR copy, LPCSTR path) {
    strcpy(copy, path);
    CHAR truePath[PATH_BUFFER_SIZE];
    if (IsSubstDrive(copy) && GetFullPath(truePath, copy)) strcpy(copy, truePath);
}

// 1 when `block` is `top` or lies below it.
BOOL IsInSubtree(const DirectoryBlock *block, const DirectoryBlock *top) {
    for (; block != nullptr; block = GetBlockParent(block)) {
        if (block == top) return 1;
    }
    return 0;
}

}  // namespace

BOOL MoveEntryRecord(LPCSTR newPath, LPCSTR oldPath, EntryPosition *oldPosition) {
    EntryPosition target;
    const BOOL driveFound = FindParentBlockForPath(newPath, &target);
    // Making the new parent directories may have moved the old record's block: find it again.
    if (!ResolvePath(oldPath, oldPosition) || LoadPtr32<EntryRecord>(&oldPosition->pEntry) == nullptr) {
        StorePtr32(&oldPosition->pEntry, nullptr);
        return 0;
    }
    DirectoryBlock *block = LoadPtr32<DirectoryBlock>(&target.pBlock);
    if (!driveFound || block == nullptr) return 0;

    DirectoryBlock *oldBlock = LoadPtr32<DirectoryBlock>(&oldPosition->pBlock);
    const EntryRecord *old = LoadPtr32<EntryRecord>(&oldPosition->pEntry);
    DirectoryBlock *subtree = IsFile(old) ? nullptr : GetChildBlock(old);
    // Block counts and ids are kept per drive, and a subtree below itself would leave its drive's tree.
    if (subtree != nullptr && (FindDriveRecord(newPath) != FindDriveRecord(oldPath) || IsInSubtree(block, subtree)))
        return 0;

    const DWORD oldOffset = EntryOffset(oldBlock, old);
    DirectoryBlock *grown = nullptr;
    if (AppendEntryCopy(block, oldPosition, &grown) == nullptr) return 0;
    if (oldBlock == block) {  // a rename: the copy went into the old record's own block
        StorePtr32(&oldPosition->pBlock, grown);
        StorePtr32(&oldPosition->pEntry, reinterpret_cast<BYTE *>(grown) + oldOffset);
    }
    if (subtree != nullptr) {
        SetBlockParent(subtree, grown);
        SetBlockParentId(subtree, GetBlockId(grown));
        // The copy owns the subtree now: removing the old record must not free it.
        SetChildBlock(LoadPtr32<EntryRecord>(&oldPosition->pEntry), nullptr);
    }
    return 1;
}

// Error codes: 1 for an old or new path IsChangePath refuses, and for a move that failed on a fixed
// drive (no block for the copy, a block that cannot grow, a directory refused); 8 when the new
// path lies on a drive of another kind. When the old record was found it is removed whether or not
// the copy was made, so the map never holds a record at a place the client says is empty. An old
// path the map does not hold is an update of the new path.
extern "C" BOOL WINAPI DriveMap_Move(LPCSTR newPath, LPCSTR oldPath) {
    if (RefusedWhileCritical()) return FALSE;
    ExportFrame frame(MODE_UPDATE, FRAME_CLEARS_CRITICAL);
    if (!IsChangePath(oldPath) || !IsChangePath(newPath)) return frame.Fail(DRIVEMAP_BAD_PATH);

    CHAR oldCopy[PATH_BUFFER_SIZE], newCopy[PATH_BUFFER_SIZE];
    CopyTruePath(oldCopy, oldPath);
    CopyTruePath(newCopy, newPath);
    if (CompareTextNoCase(oldCopy, newCopy) == 0) return TRUE;

    EntryPosition position;
    BOOL result;
    if (ResolvePath(oldCopy, &position) && LoadPtr32<EntryRecord>(&position.pEntry) != nullptr) {
        result = MoveEntryRecord(newCopy, oldCopy, &position);
        RemoveEntry(&position);
    } else {
        result = UpdatePathEntry(newPath);
    }
    if (!result) return frame.Fail(IsLocalHardDrive(newCopy) ? DRIVEMAP_BAD_PATH : DRIVEMAP_DRIVE_NOT_MAPPED);
    return TRUE;
}
