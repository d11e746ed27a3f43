// DriveMap_ReadAll: loads PWDRVMAP.DAT in 128 KB chunks. A block that straddles two chunks is read
// again whole at the start of the next; a block larger than the buffer is read straight into its
// own memory. Every block is checked before it joins the map, and anything that does not add up
// fails the whole load: a partly read map is never kept.
#include "mapfile/map_file.h"

#include "mapfile/map_file_format.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/map_release.h"
#include "support/bounded_bytes.h"
#include "support/path_utils.h"

#include <cstring>

// Paths are at most 299 characters, so no directory lies deeper than this below its drive's root
// ("X:\" and then at least two characters a level). Deeper trees are damage, and refusing them
// keeps every recursive walk of the map short.
#define MAP_MAX_TREE_DEPTH 150

namespace {

// A block on the chain from the current drive's root to the block attached last, and where the
// search for its next child's record resumes.
struct PathLevel {
    DirectoryBlock *block;
    EntryRecord *nextRecord;  // the record after the one its last child hung from
    WORD cRecordsLeft;        // records from nextRecord on
    BOOL inOrder;             // every directory record before nextRecord leads to a block
};

struct MapRead {
    BYTE *pbBuffer;  // MAP_READ_CHUNK_SIZE bytes
    LONG lFileSize;
    LONG lChunkStart;                     // file offset of pbBuffer[0]
    DWORD dwError;                        // DRIVEMAP_OK while the read goes well
    WORD awOrphans[MAP_FILE_MAX_DRIVES];  // blocks dropped per drive, counted in wBlocksLoaded
    // Directory records in the blocks kept, less the blocks hung from them: 0 when every directory
    // record of the drive leads to a block.
    DWORD acRecordsWithoutBlock[MAP_FILE_MAX_DRIVES];
    PathLevel aPath[MAP_MAX_TREE_DEPTH + 2];
    DWORD cPath;
};

// gFirstBlockWithId (state table): the first attached block of the current drive carrying each id,
// so that a block finds its parent in one step instead of a walk along the drive's chain.
void NoteAttachedBlock(const DirectoryBlock *block) {
    PTR32 *slot = &gFirstBlockWithId[GetBlockId(block)];
    if (*slot == 0) StorePtr32(slot, block);
}

// Makes `block` the deepest level of the chain.
void PushPathLevel(MapRead *read, DirectoryBlock *block) {
    if (read->cPath == sizeof read->aPath / sizeof read->aPath[0]) return;
    read->aPath[read->cPath++] = {block, FirstEntry(block), GetBlockEntryCount(block), 1};
}

// The first directory record of `parent` whose wChildId is `id`. Blocks come depth first, in the
// order of their directory records, so the record is normally the parent's next directory record
// after the one its previous child hung from: that one is taken when no earlier record can carry
// the id (every directory record before it leads to a block, and no block of the drive has the
// id yet). Anything else, which only a damaged or hand-made file holds, searches the whole block.
EntryRecord *FindChildRecord(MapRead *read, DirectoryBlock *parent, WORD id) {
    DWORD level = read->cPath;
    while (level > 0 && read->aPath[level - 1].block != parent) --level;
    read->cPath = level;
    if (level == 0) return FindEntryByChildId(parent, id);

    PathLevel *at = &read->aPath[level - 1];
    if (at->inOrder && gFirstBlockWithId[id] == 0) {
        while (at->cRecordsLeft != 0 && IsFile(at->nextRecord)) {
            at->nextRecord = NextEntry(at->nextRecord);
            --at->cRecordsLeft;
        }
        if (at->cRecordsLeft != 0 && GetChildId(at->nextRecord) == id) {
            EntryRecord *record = at->nextRecord;
            at->nextRecord = NextEntry(record);
            --at->cRecordsLeft;
            return record;
        }
    }
    at->inOrder = 0;
    return FindEntryByChildId(parent, id);
}

DWORD DriveIndex(const DriveRecord *drive) { return static_cast<DWORD>(drive - gDriveTable.records); }

// Blocks count to the current drive until it has wBlockCount of them; then the next record takes
// over, and none is left after the last.
void AdvanceDriveIfComplete() {
    if (gCurrentDrive == nullptr || GetDriveBlocksLoaded(gCurrentDrive) != GetDriveBlockCount(gCurrentDrive)) return;
    const DWORD next = DriveIndex(gCurrentDrive) + 1;
    gCurrentDrive = next < gDriveTable.dwCount ? &gDriveTable.records[next] : nullptr;
}

// Puts a block copied out of the file on the chain and links it into the current drive's tree:
// the drive's first block is its root; any other hangs below the first earlier block of the drive
// carrying its wParentId, from the directory record there whose wChildId is its id. A block
// without such a parent, or whose record already leads to a block, is an orphan: it is freed (its
// descendants then find no parent either) and the record that should have led to it is removed
// by the post-load pass. Returns 0 when the block lies deeper than any path can reach (it is in
// the map then, for ReleaseMap to free).
BOOL AttachLoadedBlock(MapRead *read, DirectoryBlock *block) {
    DirectoryBlock *keptLast = gLastBlock;
    if (gLastBlock != nullptr) SetBlockNext(gLastBlock, block);
    gLastBlock = block;
    SetBlockNext(block, nullptr);
    SetBlockParent(block, nullptr);
    DWORD cDirectories = 0;
    ForEachEntry(block, [&](EntryRecord *entry) {
        SetEntryFlags(entry, static_cast<WORD>(GetEntryFlags(entry) & ~ENTRY_SEEN));
        if (!IsFile(entry)) {
            SetChildBlock(entry, nullptr);
            ++cDirectories;
        }
    });
    DWORD *pcWithoutBlock = &read->acRecordsWithoutBlock[DriveIndex(gCurrentDrive)];

    const WORD loaded = GetDriveBlocksLoaded(gCurrentDrive);
    SetDriveBlocksLoaded(gCurrentDrive, static_cast<WORD>(loaded + 1));
    if (loaded == 0) {
        SetDriveRoot(gCurrentDrive, block);
        SetBlockParentId(block, 0);
        std::memset(gFirstBlockWithId, 0, sizeof gFirstBlockWithId);
        NoteAttachedBlock(block);
        read->cPath = 0;
        PushPathLevel(read, block);
        *pcWithoutBlock += cDirectories;
        return 1;
    }

    const WORD id = GetBlockId(block);
    DirectoryBlock *parent = LoadPtr32<DirectoryBlock>(&gFirstBlockWithId[GetBlockParentId(block)]);
    EntryRecord *record = parent != nullptr ? FindChildRecord(read, parent, id) : nullptr;
    if (record != nullptr && GetChildBlock(record) == nullptr) {
        SetBlockParent(block, parent);
        SetChildBlock(record, block);
        NoteAttachedBlock(block);
        PushPathLevel(read, block);
        *pcWithoutBlock += cDirectories - 1;
        DWORD depth = 0;
        for (const DirectoryBlock *b = block; GetBlockParent(b) != nullptr; b = GetBlockParent(b)) ++depth;
        return depth <= MAP_MAX_TREE_DEPTH;
    }

    FreeLockedBuffer(block);
    gLastBlock = keptLast;
    if (keptLast != nullptr) SetBlockNext(keptLast, nullptr);
    ++read->awOrphans[DriveIndex(gCurrentDrive)];
    return 1;
}

// Stops the read with `code`; returns 0 leftover bytes so that the caller's loop ends.
DWORD FailRead(MapRead *read, DWORD code) {
    read->dwError = code;
    return 0;
}

// Takes the whole blocks among the n bytes of the buffer and returns how many bytes at its end
// belong to a block still to come (to be read again). Sets read->dwError, and takes nothing more,
// when the file is damaged or a block's memory cannot be had.
DWORD ParseChunk(MapRead *read, DWORD n) {
    const BYTE *p = read->pbBuffer;
    while (n != 0) {
        if (n < BLOCK_HEADER_SIZE) return n;
        if (gCurrentDrive == nullptr) return FailRead(read, DRIVEMAP_FILE_DAMAGED);  // more blocks than counted
        DWORD size = 0;
        const ByteSpan chunk = {p, n};
        if (!ReadLe(&chunk, offsetof(DirectoryBlock, dwUsed), &size)) return FailRead(read, DRIVEMAP_FILE_DAMAGED);
        const int64_t blockStart = int64_t{read->lChunkStart} + (p - read->pbBuffer);
        if (size < BLOCK_HEADER_SIZE || size > int64_t{read->lFileSize} - blockStart)
            return FailRead(read, DRIVEMAP_FILE_DAMAGED);

        BYTE *copy = nullptr;
        if (size > n) {
            if (size <= MAP_READ_CHUNK_SIZE) return n;
            copy = static_cast<BYTE *>(AllocLockedBytes(size));
            if (copy == nullptr) return FailRead(read, DRIVEMAP_NO_MEMORY);
            if (_llseek(gMapFile, -static_cast<LONG>(n), FILE_CURRENT) == HFILE_ERROR ||
                _hread(gMapFile, copy, static_cast<long>(size)) != static_cast<long>(size) ||
                !IsLoadedBlockWellFormed(copy, size)) {
                FreeLockedBuffer(copy);
                return FailRead(read, DRIVEMAP_FILE_DAMAGED);
            }
            n = size;
        } else {
            if (!IsLoadedBlockWellFormed(p, size)) return FailRead(read, DRIVEMAP_FILE_DAMAGED);
            copy = static_cast<BYTE *>(AllocLockedBytes(size));
            if (copy == nullptr) return FailRead(read, DRIVEMAP_NO_MEMORY);
            std::memcpy(copy, p, size);
        }
        if (!AttachLoadedBlock(read, reinterpret_cast<DirectoryBlock *>(copy)))
            return FailRead(read, DRIVEMAP_FILE_DAMAGED);
        n -= size;
        p += size;
        AdvanceDriveIfComplete();
    }
    return 0;
}

// Removes the directory records of `block` and its subtree whose block was not in the file.
void PruneMissingChildren(DirectoryBlock *block) {
    PruneEntries(
        block, [](const EntryRecord *entry) { return !IsFile(entry) && GetChildBlock(entry) == nullptr; },
        [](EntryRecord *entry) {
            if (!IsFile(entry)) PruneMissingChildren(GetChildBlock(entry));
        });
}

// The drive table as stored: at most 26 records, each a distinct letter A to Z with at least one
// block (the writer stores only drives that have a root, so a count of 0 is damage).
BOOL IsDriveTableSound(const DriveRecord *records, DWORD count) {
    DWORD seen = 0;
    for (DWORD i = 0; i < count; ++i) {
        const BYTE letter = records[i].chLetter;
        if (letter < 'A' || letter > 'Z' || (seen & (1u << (letter - 'A'))) != 0) return 0;
        if (GetDriveBlockCount(&records[i]) == 0) return 0;
        seen |= 1u << (letter - 'A');
    }
    return 1;
}

// Steps 4 to 11 of a read: the file into the map. Returns the error code.
DWORD LoadMapFile(MapRead *read) {
    CHAR path[PATH_BUFFER_SIZE];
    GetMapFilePath(path);
    gMapFile = _lopen(path, OF_READ);
    if (gMapFile == HFILE_ERROR) return DRIVEMAP_NOT_FOUND;
    read->lFileSize = _llseek(gMapFile, 0, FILE_END);
    if (read->lFileSize == HFILE_ERROR || _llseek(gMapFile, 0, FILE_BEGIN) != 0) return DRIVEMAP_FILE_DAMAGED;

    // The version comes first: a file too short to hold it reads as version 0 from the zeroed buffer.
    const long cbHeader = _hread(gMapFile, read->pbBuffer, sizeof(MapFileHeader));
    MapFileHeader header;
    std::memcpy(&header, read->pbBuffer, sizeof header);
    if (header.bVersion < MAP_FILE_VERSION) return DRIVEMAP_OLD_VERSION;
    if (cbHeader != sizeof header || std::memcmp(header.achMagic, MAP_FILE_MAGIC, 4) != 0) return DRIVEMAP_FILE_DAMAGED;
    if (header.bDriveCount > MAP_FILE_MAX_DRIVES) return DRIVEMAP_FILE_DAMAGED;

    DriveRecord records[MAP_FILE_MAX_DRIVES];
    const long cbTable = static_cast<long>(header.bDriveCount * sizeof(DriveRecord));
    if (_hread(gMapFile, records, cbTable) != cbTable || !IsDriveTableSound(records, header.bDriveCount))
        return DRIVEMAP_FILE_DAMAGED;
    for (DWORD i = 0; i < header.bDriveCount; ++i) {
        SetDriveBlocksLoaded(&records[i], 0);
        SetDriveRoot(&records[i], nullptr);
    }
    std::memcpy(gDriveTable.records, records, static_cast<size_t>(cbTable));
    gDriveTable.dwCount = header.bDriveCount;
    gNextBlockId = header.wNextBlockId;
    gCurrentDrive = header.bDriveCount != 0 ? &gDriveTable.records[0] : nullptr;

    for (;;) {
        read->lChunkStart = _llseek(gMapFile, 0, FILE_CURRENT);
        const long got = _hread(gMapFile, read->pbBuffer, MAP_READ_CHUNK_SIZE);
        if (read->lChunkStart == HFILE_ERROR || got < 0) return DRIVEMAP_FILE_DAMAGED;
        if (got == 0) break;
        const DWORD left = ParseChunk(read, static_cast<DWORD>(got));
        if (read->dwError != DRIVEMAP_OK) return read->dwError;
        // Nothing taken from a whole read: the file ends inside a block.
        if (left == static_cast<DWORD>(got)) return DRIVEMAP_FILE_DAMAGED;
        if (left != 0 && _llseek(gMapFile, -static_cast<LONG>(left), FILE_CURRENT) == HFILE_ERROR)
            return DRIVEMAP_FILE_DAMAGED;
    }
    // Every drive got all its blocks.
    return gCurrentDrive == nullptr ? DRIVEMAP_OK : DRIVEMAP_FILE_DAMAGED;
}

// After a whole load every drive has its root (its first block can never be an orphan): count
// off the dropped blocks and remove the records that led to them.
void FinishLoad(const MapRead *read) {
    for (DWORD i = 0; i < gDriveTable.dwCount; ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        SetDriveBlockCount(drive, static_cast<WORD>(GetDriveBlockCount(drive) - read->awOrphans[i]));
        if (read->acRecordsWithoutBlock[i] == 0) continue;
        CurrentDriveScope scope(drive);
        PruneMissingChildren(GetDriveRoot(drive));
    }
}

}  // namespace

// Error codes: 3 when the read buffer or a block's memory cannot be had, 2 when the file cannot
// be opened, 9 for a version below 3 (and a file too short to hold one), 4 for anything damaged:
// a bad magic, more than 26 drives, a drive letter twice or outside A to Z, a drive with no
// blocks, a block whose records do not fill it exactly or that the file ends inside, more or
// fewer blocks than the table counts, a tree deeper than any path. Every failure leaves no map.
// Refused (0, no code stored) when called from inside another export: the running operation
// works on the map this would release.
extern "C" BOOL WINAPI DriveMap_ReadAll(DWORD /*callerValue*/) {
    if (gLoadedFlag) return 1;
    if (IsNestedExport()) return 0;
    ExportFrame frame(MODE_READ, FRAME_CLEARS_CRITICAL);
    ReleaseMap();

    DWORD cbBuffer = MAP_READ_CHUNK_SIZE;
    MapRead read = {};
    read.pbBuffer = static_cast<BYTE *>(AllocLockedBuffer(&cbBuffer, 0));
    if (read.pbBuffer == nullptr) return frame.Fail(DRIVEMAP_NO_MEMORY);

    frame.dwErrorCode = LoadMapFile(&read);
    CloseMapFile();
    FreeLockedBuffer(read.pbBuffer);
    if (frame.dwErrorCode != DRIVEMAP_OK) {
        ReleaseMap();
        return FALSE;
    }
    FinishLoad(&read);
    gLoadedFlag = 1;
    return TRUE;
}
