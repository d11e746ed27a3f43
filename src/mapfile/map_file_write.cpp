// DriveMap_WriteAll and SaveMap: the map into PWDRVMAP.DAT. The file is written whole to a new
// temporary file beside it (GetTempFileNameA: a name no other save, in this process or another,
// can share), flushed to the disk, and renamed over the map file only then, with the rename itself
// written through. A failed or interrupted save leaves the previous map file as it was; a save
// killed outright leaves at most its PWDxxxx.TMP behind.
//
// What the file holds beyond the map itself is fixed rather than copied from memory: the pointer
// fields (pParent, pNext, pChildBlock, pRootBlock) and wBlocksLoaded are written as 0, so the same
// map always gives the same bytes. Only drives that have a root block are stored (a drive record
// without blocks carries nothing, and the reader takes every stored drive to have blocks). An
// empty map is saved like any other: the header and no drives, result 1.
#include "mapfile/map_file.h"

#include "mapfile/map_file_format.h"
#include "scan/drive_class.h"
#include "store/block_layout.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "support/file_system.h"
#include "support/message_pump.h"
#include "support/path_utils.h"

#include <cstring>

#define MAP_WRITE_BUFFER_SIZE 0x20000
#define MAP_WRITE_BUFFER_STEP 0x4000

namespace {

// Buffered writes to gMapFile; the first failed or short write makes every later call a no-op.
struct MapWriter {
    BYTE *pbBuffer;
    DWORD cbBuffer;
    DWORD cbPending;
    BOOL fFailed;
    DWORD cBlocks;                // blocks of the current drive written so far
    BYTE abIdsSeen[0x10000 / 8];  // block ids met on the current drive
};

void Flush(MapWriter *w) {
    if (!w->fFailed && w->cbPending != 0 &&
        _hwrite(gMapFile, reinterpret_cast<LPCCH>(w->pbBuffer), static_cast<long>(w->cbPending)) !=
            static_cast<long>(w->cbPending))
        w->fFailed = 1;
    w->cbPending = 0;
}

// Appends cb bytes from pv, or cb zero bytes when pv is none.
void Put(MapWriter *w, const void *pv, DWORD cb) {
    const BYTE *pb = static_cast<const BYTE *>(pv);
    while (cb != 0 && !w->fFailed) {
        if (w->cbPending == w->cbBuffer) Flush(w);
        const DWORD cbPart = cb < w->cbBuffer - w->cbPending ? cb : w->cbBuffer - w->cbPending;
        if (pb != nullptr) {
            std::memcpy(w->pbBuffer + w->cbPending, pb, cbPart);
            pb += cbPart;
        } else {
            std::memset(w->pbBuffer + w->cbPending, 0, cbPart);
        }
        w->cbPending += cbPart;
        cb -= cbPart;
    }
}

// The block's dwUsed bytes with its pointer fields as 0.
void PutBlock(MapWriter *w, const DirectoryBlock *block) {
    DirectoryBlock header;
    std::memcpy(&header, block, sizeof header);
    SetBlockParent(&header, nullptr);
    SetBlockNext(&header, nullptr);
    Put(w, &header, sizeof header);
    ForEachEntry(block, [w](const EntryRecord *entry) {
        const BYTE *pb = reinterpret_cast<const BYTE *>(entry);
        const DWORD cbRecord = GetEntryLength(entry);
        if (IsFile(entry)) {
            Put(w, pb, cbRecord);
        } else {
            const DWORD cbBefore = offsetof(EntryRecord, u1), cbPointer = sizeof(PTR32);
            Put(w, pb, cbBefore);
            Put(w, nullptr, cbPointer);
            Put(w, pb + cbBefore + cbPointer, cbRecord - cbBefore - cbPointer);
        }
    });
}

// The block and its subtree in depth-first pre-order, pumping messages between blocks. 0 when a
// write failed, or when the drive cannot be stored faithfully: a block id met twice (the reader
// would hang children below the wrong block) or more blocks than the 16-bit count holds.
BOOL WriteTree(MapWriter *w, const DirectoryBlock *block) {
    const WORD id = GetBlockId(block);
    const BYTE bit = static_cast<BYTE>(1u << (id & 7));
    if ((w->abIdsSeen[id >> 3] & bit) != 0 || w->cBlocks == 0xFFFF) return 0;
    w->abIdsSeen[id >> 3] |= bit;
    ++w->cBlocks;
    PutBlock(w, block);
    // A failed subtree stops the visit there.
    const EntryRecord *failedAt = ForEachEntry(block, [w](const EntryRecord *entry) {
        if (w->fFailed) return true;
        if (IsFile(entry)) return false;
        PumpMessages();
        const DirectoryBlock *child = GetChildBlock(entry);
        return child != nullptr && !WriteTree(w, child);
    });
    return failedAt == nullptr && !w->fFailed;
}

// Writes the whole map to `path`, which gMapFile is left open on. Returns the error code.
DWORD WriteMapFile(LPCSTR path, BOOL hidden, MapWriter *w) {
    gMapFile = _lcreat(path, hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
    if (gMapFile == HFILE_ERROR) return DRIVEMAP_CREATE_FAILED;

    // The stored table: the drives with a root, in table order, counts filled in as they are written.
    DriveRecord table[MAP_FILE_MAX_DRIVES];
    DriveRecord *stored[MAP_FILE_MAX_DRIVES];
    BYTE cStored = 0;
    for (DWORD i = 0; i < gDriveTable.dwCount && i < MAP_FILE_MAX_DRIVES; ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        if (GetDriveRoot(drive) == nullptr) continue;
        std::memset(&table[cStored], 0, sizeof table[cStored]);
        table[cStored].chLetter = drive->chLetter;
        stored[cStored++] = drive;
    }
    MapFileHeader header;
    std::memcpy(header.achMagic, MAP_FILE_MAGIC, 4);
    header.bVersion = MAP_FILE_VERSION;
    header.bDriveCount = cStored;
    StoreField<WORD>(&header.wNextBlockId, static_cast<WORD>(gNextBlockId));
    const DWORD cbTable = cStored * sizeof(DriveRecord);
    Put(w, &header, sizeof header);
    Put(w, table, cbTable);

    for (BYTE i = 0; i < cStored; ++i) {
        CurrentDriveScope scope(stored[i]);
        w->cBlocks = 0;
        std::memset(w->abIdsSeen, 0, sizeof w->abIdsSeen);
        if (!WriteTree(w, GetDriveRoot(stored[i]))) return DRIVEMAP_WRITE_FAILED;
        SetDriveBlockCount(&table[i], static_cast<WORD>(w->cBlocks));
    }
    Flush(w);
    if (w->fFailed || _llseek(gMapFile, sizeof header, FILE_BEGIN) != static_cast<LONG>(sizeof header) ||
        _hwrite(gMapFile, reinterpret_cast<LPCCH>(table), static_cast<long>(cbTable)) != static_cast<long>(cbTable))
        return DRIVEMAP_WRITE_FAILED;
    for (BYTE i = 0; i < cStored; ++i) SetDriveBlockCount(stored[i], GetDriveBlockCount(&table[i]));
    return DRIVEMAP_OK;
}

}  // namespace

// Error codes: 0 with result 1 when the map is not dirty (nothing is written); 10 when lockTest is
// set and the map file's volume is locked; 6 when the temporary file cannot be created or not
// renamed over the map file; 5 when the written file cannot be flushed to the disk; 5 when a write fails, the write buffer cannot be had, or the map
// cannot be stored faithfully (a block id twice within a drive, more than 65,535 blocks on one).
// On any failure the temporary file is deleted, the previous map file stays and the map stays
// dirty.
BOOL SaveMap(DWORD /*callerValue*/, DWORD lockTest) {
    ExportFrame frame(FRAME_KEEPS_MODE, FRAME_RESTORES_CRITICAL);
    CloseMapFile();
    if (!gDirtyFlag) return TRUE;

    CHAR path[PATH_BUFFER_SIZE];
    const BOOL hidden = GetMapFilePath(path);
    if (lockTest && IsDriveLocked(path)) return frame.Fail(DRIVEMAP_VOLUME_LOCKED);
    CHAR directory[PATH_BUFFER_SIZE];
    std::strcpy(directory, path);
    RemoveLastPathComponent(directory);
    CHAR tempPath[PATH_BUFFER_SIZE + MAX_PATH] = {};  // what GetTempFileNameA may write
    if (GetTempFileNameA(directory, MAP_FILE_TEMP_PREFIX, 0, tempPath) == 0 ||
        std::strlen(tempPath) >= PATH_BUFFER_SIZE) {
        if (tempPath[0] != '\0') DeleteSingleFile(tempPath);
        return frame.Fail(DRIVEMAP_CREATE_FAILED);
    }

    DWORD code = DRIVEMAP_WRITE_FAILED;
    DWORD cbWriter = sizeof(MapWriter) + MAP_WRITE_BUFFER_SIZE;
    void *memory = AllocLockedBuffer(&cbWriter, MAP_WRITE_BUFFER_STEP);  // zero-filled
    if (memory != nullptr && cbWriter > sizeof(MapWriter)) {
        auto *w = static_cast<MapWriter *>(memory);
        w->pbBuffer = static_cast<BYTE *>(memory) + sizeof(MapWriter);
        w->cbBuffer = cbWriter - sizeof(MapWriter);
        code = WriteMapFile(tempPath, hidden, w);
    }
    FreeLockedBuffer(memory);
    // On the disk before it replaces the previous map: a crash after the rename must not leave a
    // map file whose blocks never reached the disk.
    if (code == DRIVEMAP_OK && !FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(gMapFile))))
        code = DRIVEMAP_WRITE_FAILED;
    CloseMapFile();
    if (code == DRIVEMAP_OK) {
        SetAttributes(path, 0);  // a read-only map file could not be replaced
        if (!MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            code = DRIVEMAP_CREATE_FAILED;
    }
    if (code != DRIVEMAP_OK) {
        DeleteSingleFile(tempPath);
        return frame.Fail(code);
    }
    gDirtyFlag = 0;
    return TRUE;
}

extern "C" BOOL WINAPI DriveMap_WriteAll(DWORD callerValue, DWORD lockTest) {
    if (RefusedWhileCritical()) return FALSE;
    return SaveMap(callerValue, lockTest);
}
