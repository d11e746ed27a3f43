// Adding a file's record from the disk, together with the records and blocks of every directory
// above it that the map does not hold yet.
#include "maintenance/entry_changes.h"

#include "scan/drive_class.h"
#include "store/add_entry.h"
#include "store/drive_table.h"
#include "store/path_lookup.h"
#include "support/file_system.h"
#include "support/path_utils.h"

BOOL FindParentBlockForPath(LPCSTR path, EntryPosition *position) {
    StorePtr32(&position->pBlock, nullptr);
    StorePtr32(&position->pEntry, nullptr);
    if (path == nullptr || path[0] == '\0') return 0;
    DriveRecord *drive = FindDriveRecord(path);
    if (drive == nullptr) {
        if (!IsLocalHardDrive(path) || (drive = AddDriveRecord(path)) == nullptr) return 0;
    }
    gCurrentDrive = drive;

    CHAR parent[PATH_BUFFER_SIZE];
    GetParentDirectory(parent, path);
    DirectoryBlock *block;
    if (GetDriveRoot(drive) == nullptr && IsRootPath(parent)) {
        // A drive the map holds no block of: a file in its root has no block to go into (the
        // drive's root block is made only for a directory below it).
        block = nullptr;
    } else if (WalkPath(parent, position, /*directoriesOnly=*/1)) {
        const EntryRecord *record = LoadPtr32<EntryRecord>(&position->pEntry);
        block = record != nullptr ? GetChildBlock(record) : LoadPtr32<DirectoryBlock>(&position->pBlock);
    } else {
        // The drive's root block too, when the drive has none yet.
        block = EnsureDirectoryPath(parent);
    }
    StorePtr32(&position->pBlock, block);
    StorePtr32(&position->pEntry, nullptr);
    return 1;
}

BOOL AddFileEntry(LPCSTR path, WORD usageCount) {
    if (!EnsureScanBuffers()) return 0;
    EntryPosition parent;
    if (!FindParentBlockForPath(path, &parent)) return 0;
    CHAR name[PATH_BUFFER_SIZE];
    GetPathFileName(name, path);
    return AddEntry(LoadPtr32<DirectoryBlock>(&parent.pBlock), name, path, /*isDirectory=*/FALSE, usageCount) !=
           nullptr;
}

BOOL RecordUnmappedPath(LPSTR workPath, WORD usageCount, DWORD *pError) {
    if (DirectoryExists(workPath)) return 1;
    if (!FileExists(workPath)) return 0;
    ProperCaseShortNames(workPath);
    if (!AddFileEntry(workPath, usageCount)) {
        *pError = DRIVEMAP_BAD_PATH;
        return 0;
    }
    gDirtyFlag = 1;
    return 1;
}
