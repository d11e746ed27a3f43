#include "mapfile/map_file_format.h"

#include "store/directory_blocks.h"
#include "store/entry_records.h"

namespace {

#define KNOWN_ENTRY_FLAGS 0x3F

// Moves *pos past the NUL of the string at *pos; 0 when the string runs past cbEnd.
[[nodiscard]] BOOL SkipString(const BYTE *pb, uint64_t cbEnd, uint64_t *pos) {
    for (BYTE ch = 1; ch != 0; ++*pos)
        if (!ReadMapField(pb, cbEnd, *pos, &ch)) return 0;
    return 1;
}

// The record at `offset` of the block: 1 with its length in *pcbRecord when its content fits and
// its wLength is exactly that content.
[[nodiscard]] BOOL IsRecordWellFormed(const BYTE *pbBlock, uint64_t cbBlock, uint64_t offset, WORD *pcbRecord) {
    WORD cbRecord = 0, flags = 0;
    if (!ReadMapField(pbBlock, cbBlock, offset, &cbRecord) || !ReadMapField(pbBlock, cbBlock, offset + 2, &flags))
        return 0;
    if ((flags & ~KNOWN_ENTRY_FLAGS) != 0 || cbRecord > cbBlock - offset) return 0;

    // Everything is read within the record's own wLength bytes.
    const BYTE *pbRecord = pbBlock + offset;
    uint64_t pos = ENTRY_FIXED_SIZE;
    if (!SkipString(pbRecord, cbRecord, &pos)) return 0;
    if (flags & ENTRY_IS_FILE) {
        pos += ENTRY_FILE_TAIL_SIZE;
        const WORD refFlags = ENTRY_SCANNED | ENTRY_HAS_REFS;
        if ((flags & refFlags) == refFlags) {
            BYTE cRefs = 0;
            if (!ReadMapField(pbRecord, cbRecord, pos++, &cRefs) || cRefs == 0) return 0;
            for (BYTE i = 0; i < cRefs; ++i)
                if (!SkipString(pbRecord, cbRecord, &pos)) return 0;
        }
    }
    *pcbRecord = cbRecord;
    return pos == cbRecord;
}

}  // namespace

BOOL IsLoadedBlockWellFormed(const BYTE *pbBlock, uint64_t cbBlock) {
    DWORD cbUsed = 0;
    WORD cEntries = 0;
    if (!ReadMapField(pbBlock, cbBlock, offsetof(DirectoryBlock, dwUsed), &cbUsed) ||
        !ReadMapField(pbBlock, cbBlock, offsetof(DirectoryBlock, wEntryCount), &cEntries))
        return 0;
    if (cbUsed != cbBlock || cbUsed < BLOCK_HEADER_SIZE) return 0;
    uint64_t offset = BLOCK_HEADER_SIZE;
    for (WORD i = 0; i < cEntries; ++i) {
        WORD cbRecord = 0;
        if (!IsRecordWellFormed(pbBlock, cbBlock, offset, &cbRecord)) return 0;
        offset += cbRecord;
    }
    return offset == cbBlock;
}
