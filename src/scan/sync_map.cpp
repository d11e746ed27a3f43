// Synchronising the map: every local hard disk walked again, each entry on disk matched with the
// record the map has; matches are brought up to date and marked seen, the rest is added through the
// builder's callbacks, and what was not seen is removed at the end.
#include "scan/sync_map.h"

#include "scan/drive_class.h"
#include "scan/scan_state.h"

#include "mapfile/map_file.h"
#include "references/import_scanner.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/path_lookup.h"
#include "store/reference_buffer.h"
#include "support/message_pump.h"
#include "support/path_utils.h"

namespace {

void ResetMatchCursor() {
    gMatchCursor.dwOffset = BLOCK_HEADER_SIZE;
    gMatchCursor.dwIndex = 0;
}

// Names compared with only the letters A to Z folded, as the file systems matched against do.
BOOL NamesMatch(LPCSTR a, LPCSTR b) {
    for (;; ++a, ++b) {
        CHAR ca = *a, cb = *b;
        if (ca >= 'a' && ca <= 'z') ca = static_cast<CHAR>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<CHAR>(cb - 'a' + 'A');
        if (ca != cb) return FALSE;
        if (ca == '\0') return TRUE;
    }
}

EntryRecord *RecordAt(DWORD offset) {
    return reinterpret_cast<EntryRecord *>(reinterpret_cast<BYTE *>(gScanBlock) + offset);
}

// The drive of `directory` made current; FALSE when the directory needs a new block because the
// drive has none yet.
BOOL SelectDrive(LPCSTR directory) {
    if (gCurrentDrive != nullptr) {
        if (CharUpperOne(static_cast<CHAR>(gCurrentDrive->chLetter)) == CharUpperOne(directory[0])) return TRUE;
    }
    DriveRecord *drive = FindDriveRecord(directory);
    if (drive == nullptr) {
        gCurrentDrive = AddDriveRecord(directory);
        return FALSE;
    }
    gCurrentDrive = drive;
    if (GetDriveRoot(drive) == nullptr) {
        SetDriveBlockCount(drive, 0);
        return FALSE;
    }
    return TRUE;
}

// The block the map already has for `directory`, or none; a block found goes on the trail.
DirectoryBlock *FindDirectoryBlock(LPCSTR directory) {
    EntryPosition position;
    if (!WalkScanDirectory(directory, &position)) return nullptr;
    EntryRecord *record = LoadPtr32<EntryRecord>(&position.pEntry);
    if (record == nullptr) return GetDriveRoot(gCurrentDrive);
    DirectoryBlock *block = GetChildBlock(record);
    ExtendDirectoryTrail(directory, block);
    return block;
}

// Brings a matched file record up to date with the disk: size, last-write stamp, and one more use
// when the file was written or read after its last recorded use.
void UpdateFileRecord(EntryRecord *record, const FIND_DATA *pFind) {
    if (GetEntryFileSize(record) != pFind->nFileSizeLow) SetEntryFileSize(record, pFind->nFileSizeLow);
    BYTE *tail = GetFileTail(record);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_DATE, pFind->wLastWriteDate);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_TIME, pFind->wLastWriteTime);
    const WORD usedDate = LoadField<WORD>(tail + FILE_TAIL_USED_DATE);
    const WORD usedTime = LoadField<WORD>(tail + FILE_TAIL_USED_TIME);
    WORD newDate, newTime;
    if (CompareDosStamps(pFind->wLastWriteDate, pFind->wLastWriteTime, usedDate, usedTime) > 0) {
        newDate = pFind->wLastWriteDate;
        newTime = pFind->wLastWriteTime;
    } else if (CompareDosStamps(pFind->wLastAccessDate, pFind->wLastAccessTime, usedDate, usedTime) > 0) {
        newDate = pFind->wLastAccessDate;
        newTime = pFind->wLastAccessTime;
    } else {
        return;
    }
    StoreField<WORD>(tail + FILE_TAIL_USED_DATE, newDate);
    StoreField<WORD>(tail + FILE_TAIL_USED_TIME, newTime);
    SetUsageCount(record, static_cast<WORD>(GetUsageCount(record) + 1));
}

void MarkSeen(EntryRecord *record) { SetEntryFlags(record, static_cast<WORD>(GetEntryFlags(record) | ENTRY_SEEN)); }

}  // namespace

int CompareDosStamps(WORD dateA, WORD timeA, WORD dateB, WORD timeB) {
    if (dateA != dateB) return dateA > dateB ? 1 : -1;
    if (timeA != timeB) return timeA > timeB ? 1 : -1;
    return 0;
}

EntryRecord *FindNextMatchingEntry(LPCSTR name) {
    if (gScanBlock == nullptr) return nullptr;
    const DWORD cEntries = GetBlockEntryCount(gScanBlock);
    DWORD offset = gMatchCursor.dwOffset;
    for (DWORD index = gMatchCursor.dwIndex; index < cEntries; ++index) {
        EntryRecord *record = RecordAt(offset);
        offset += GetEntryLength(record);
        if (NamesMatch(GetEntryName(record), name)) {
            gMatchCursor = {offset, index + 1};
            return record;
        }
    }
    offset = BLOCK_HEADER_SIZE;
    for (DWORD index = 0; index < gMatchCursor.dwIndex; ++index) {
        EntryRecord *record = RecordAt(offset);
        offset += GetEntryLength(record);
        if (NamesMatch(GetEntryName(record), name)) {
            gMatchCursor = {offset, index + 1};
            return record;
        }
    }
    return nullptr;
}

void PruneUnseen(DirectoryBlock *block) {
    if (block == nullptr) return;
    PruneEntries(
        block, [](const EntryRecord *entry) { return (GetEntryFlags(entry) & ENTRY_SEEN) == 0; },
        [](EntryRecord *entry) {
            SetEntryFlags(entry, static_cast<WORD>(GetEntryFlags(entry) & ~ENTRY_SEEN));
            if (!IsFile(entry)) PruneUnseen(GetChildBlock(entry));
        });
}

void ClearSeenMarks() {
    for (DirectoryBlock *block = GetChainHead(); block != nullptr; block = GetBlockNext(block))
        ForEachEntry(block, [](EntryRecord *entry) {
            SetEntryFlags(entry, static_cast<WORD>(GetEntryFlags(entry) & ~ENTRY_SEEN));
        });
}

void PruneAllDrives() {
    for (DWORD i = 0; i < DriveCount(); ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        if (GetDriveRoot(drive) == nullptr) continue;
        CurrentDriveScope scope(drive);
        PruneUnseen(GetDriveRoot(drive));
    }
}

extern "C" int WINAPI SyncDirCallback(void *context, unsigned int event, char *directory, char *unused,
                                      LONG userValue) {
    if (event == DIR_EVENT_LISTED) {
        gScanBlock = ShrinkBlock(gScanBlock);
        return 1;
    }
    if (event != DIR_EVENT_ENTER) return 1;

    if (gClientDirCallback != nullptr && !gClientDirCallback(context, event, directory, unused, userValue)) return 0;
    DirectoryBlock *block = SelectDrive(directory) ? FindDirectoryBlock(directory) : nullptr;
    if (block != nullptr) {
        gScanBlock = block;
        gScanBlockSize = GetBlockUsed(block);
    } else {
        gDirtyFlag = 1;
        if (!BuildDirCallback(context, event, directory, unused, userValue)) return 0;
    }
    ResetMatchCursor();
    return 1;
}

extern "C" int WINAPI SyncCallback(void *context, char *path, FIND_DATA *findData, LONG userValue) {
    EntryRecord *record = FindNextMatchingEntry(findData->cFileName);
    if (record != nullptr) {
        const BOOL diskIsFile = (findData->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        const BOOL rescan = IsFile(record) && GetEntryFileSize(record) != findData->nFileSizeLow &&
                            (GetEntryFlags(record) & ENTRY_SCANNED) != 0;
        if (IsFile(record) == diskIsFile && !rescan) {
            if (diskIsFile) UpdateFileRecord(record, findData);
            MarkSeen(record);
            return 1;
        }
        // Changed in kind, or an executable whose size changed: made anew, references read afresh.
        EntryPosition position;
        StorePtr32(&position.pBlock, gScanBlock);
        StorePtr32(&position.pEntry, record);
        RemoveEntry(&position);
    }
    gDirtyFlag = 1;
    if (gScanBlock != nullptr) gScanBlockSize = GetBlockUsed(gScanBlock);
    const int result = BuildCallback(context, path, findData, userValue);
    ResetMatchCursor();
    return result;
}

extern "C" BOOL WINAPI DriveMap_SyncAll(void *context, FileCallback fileCallback, DirCallback dirCallback) {
    // Replacing records under a running walk or save would leave it working on freed blocks.
    if (IsNestedExport()) return FALSE;
    ExportFrame frame(MODE_SYNC, FRAME_CLEARS_CRITICAL);

    BOOL result = FALSE;
    frame.dwErrorCode = EnsureReferenceBuffer();
    if (frame.dwErrorCode == DRIVEMAP_OK) {
        ClearSeenMarks();
        BeginScan(fileCallback, dirCallback);
        gCurrentDrive = nullptr;
        CHAR root[] = "A:\\";
        for (CHAR letter = 'A'; letter <= 'Z' && GetStopFlag() != 1; ++letter) {
            root[0] = letter;
            if (IsLocalHardDrive(root)) WalkDrive(context, root, SyncCallback, SyncDirCallback);
        }
        frame.dwErrorCode = ScanEndCode();
        if (frame.dwErrorCode == DRIVEMAP_OK) {
            result = TRUE;
            PruneAllDrives();
            gDirtyFlag = 1;
        } else {
            gDirtyFlag = 0;
        }
    }
    FreeScanBuffers();
    if (!result) return FALSE;
    frame.fStoresCode = FALSE;  // the save stores its own
    return SaveMap(0, /*lockTest=*/0);
}
