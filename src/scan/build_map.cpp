// Building the map: every local hard disk walked from its root, each directory given a block that
// its records are appended to, and the finished map saved.
#include "scan/drive_class.h"
#include "scan/scan_state.h"

#include "mapfile/map_file.h"
#include "references/import_scanner.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_header.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/map_release.h"
#include "store/path_lookup.h"
#include "store/reference_buffer.h"
#include "support/message_pump.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// A new 16 KB block for the directory being entered, appended to the chain and linked to the
// directory's record (or made the drive's root).
BOOL MakeDirectoryBlock(LPCSTR directory) {
    if (gCurrentDrive == nullptr) return FALSE;
    const WORD cBlocks = GetDriveBlockCount(gCurrentDrive);
    if (cBlocks >= SCAN_MAX_DRIVE_BLOCKS) {
        gScanOverLimit = 1;
        return FALSE;
    }
    gScanBlockSize = SCAN_BLOCK_STEP;
    HGLOBAL handle = GlobalAlloc(BLOCK_ALLOC_FLAGS, gScanBlockSize);
    auto *block = handle != nullptr ? static_cast<DirectoryBlock *>(GlobalLock(handle)) : nullptr;
    if (block == nullptr) {
        if (handle != nullptr) GlobalFree(handle);
        return FALSE;
    }

    gShrinkPending = 1;
    SetBlockUsed(block, BLOCK_HEADER_SIZE);
    SetBlockId(block, AllocateBlockId());
    AppendToChain(block);
    gScanBlock = block;

    if (cBlocks == 0)
        SetDriveRoot(gCurrentDrive, block);  // pParent none, wParentId 0 as allocated
    else
        LinkBlockToPath(block, directory);
    SetDriveBlockCount(gCurrentDrive, static_cast<WORD>(cBlocks + 1));
    return TRUE;
}

// Makes room for a record of cbRecord bytes at the end of the current block: one 16 KB step when
// the record would reach the allocated end.
BOOL MakeRoomForRecord(DWORD cbRecord) {
    if (GetBlockUsed(gScanBlock) + cbRecord < gScanBlockSize) return TRUE;
    DirectoryBlock *grown = GrowBlock(gScanBlock, gScanBlockSize + SCAN_BLOCK_STEP);
    if (grown == nullptr) return FALSE;
    gScanBlockSize += SCAN_BLOCK_STEP;
    gScanBlock = grown;
    gShrinkPending = 1;
    return TRUE;
}

}  // namespace

extern "C" int WINAPI BuildDirCallback(void *context, unsigned int event, char *directory, char *unused,
                                       LONG userValue) {
    switch (event) {
    case DIR_EVENT_ENTER:
        if (gClientDirCallback != nullptr && !gClientDirCallback(context, event, directory, unused, userValue))
            return 0;
        return MakeDirectoryBlock(directory);
    case DIR_EVENT_LISTED: gScanBlock = ShrinkBlock(gScanBlock); return 1;
    default: return 1;
    }
}

extern "C" int WINAPI BuildCallback(void *context, char *path, FIND_DATA *findData, LONG userValue) {
    if (gScanBlock == nullptr) return 0;
    if (gClientFileCallback != nullptr && !gClientFileCallback(context, path, findData, userValue)) return 0;
    if (GetBlockEntryCount(gScanBlock) >= SCAN_MAX_BLOCK_ENTRIES) {
        gScanOverLimit = 1;
        return 0;
    }

    const BOOL isDirectory = (findData->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    NewRecord record;
    // A name longer than a record holds cannot come from a find record; stop rather than leave a
    // directory without its record.
    if (!BuildEntryHeader(findData->cFileName, path, isDirectory, &record)) return 0;
    if (!MakeRoomForRecord(record.Length())) return 0;

    if (!isDirectory) {
        SetEntryFileSize(record.Header(), findData->nFileSizeLow);
        SetUsageCount(record.Header(), 1);
    }
    if (findData->cAlternateFileName[0] == '\0') ProperCasePath(findData->cFileName);
    AppendNewRecord(gScanBlock, &record, findData->cFileName, findData);
    return 1;
}

extern "C" BOOL WINAPI DriveMap_BuildAll(void *context, FileCallback fileCallback, DirCallback dirCallback) {
    // Freeing the map under a running walk or save would leave it working on freed blocks.
    if (IsNestedExport()) return FALSE;
    ExportFrame frame(MODE_BUILD, FRAME_CLEARS_CRITICAL);
    gLastBlock = nullptr;
    gScanBlock = nullptr;
    ReleaseMap();

    BOOL result = FALSE;
    frame.dwErrorCode = EnsureReferenceBuffer();
    if (frame.dwErrorCode == DRIVEMAP_OK) {
        BeginScan(fileCallback, dirCallback);
        CHAR root[] = "A:\\";
        for (CHAR letter = 'A'; letter <= 'Z' && GetStopFlag() != 1; ++letter) {
            root[0] = letter;
            if (!IsLocalHardDrive(root)) continue;
            gCurrentDrive = AddDriveRecord(root);
            WalkDrive(context, root, BuildCallback, BuildDirCallback);
        }
        frame.dwErrorCode = ScanEndCode();
        if (frame.dwErrorCode == DRIVEMAP_OK) {
            result = TRUE;
            gLoadedFlag = 1;
            gDirtyFlag = 1;
        } else {
            gDirtyFlag = 0;  // adding the drive records set it
        }
    }
    FreeScanBuffers();
    if (!result) return FALSE;
    frame.fStoresCode = FALSE;  // the save stores its own
    return SaveMap(0, /*lockTest=*/0);
}
