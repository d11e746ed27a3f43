#include "mapfile/map_file_format.h"

#include "store/block_layout.h"
#include "support/bounded_bytes.h"

#include <cstring>

namespace {

// Moves *pos past the NUL of the string at *pos; 0 when the string runs past the span.
[[nodiscard]] BOOL SkipString(const ByteSpan *span, uint64_t *pos) {
    const BYTE *start = SpanAt(span, *pos, 0);
    const void *nul = start != nullptr ? std::memchr(start, 0, span->cb - *pos) : nullptr;
    if (nul == nullptr) return 0;
    *pos += static_cast<uint64_t>(static_cast<const BYTE *>(nul) - start) + 1;
    return 1;
}

// The record at `offset` of the block: 1 with its length in *pcbRecord when its content fits and
// its wLength is exactly that content.
[[nodiscard]] BOOL IsRecordWellFormed(const ByteSpan *block, uint64_t offset, WORD *pcbRecord) {
    WORD cbRecord = 0, flags = 0;
    if (!ReadLe(block, offset + offsetof(EntryRecord, wLength), &cbRecord) ||
        !ReadLe(block, offset + offsetof(EntryRecord, wFlags), &flags))
        return 0;
    if ((flags & ~ENTRY_KNOWN_FLAGS) != 0 || cbRecord > block->cb - offset) return 0;

    // Everything is read within the record's own wLength bytes.
    const ByteSpan record = {block->pb + offset, cbRecord};
    uint64_t pos = ENTRY_FIXED_SIZE;
    if (!SkipString(&record, &pos)) return 0;
    if (flags & ENTRY_IS_FILE) {
        pos += ENTRY_FILE_TAIL_SIZE;
        const WORD refFlags = ENTRY_SCANNED | ENTRY_HAS_REFS;
        if ((flags & refFlags) == refFlags) {
            BYTE cRefs = 0;
            if (!ReadLe(&record, pos++, &cRefs) || cRefs == 0) return 0;
            for (BYTE i = 0; i < cRefs; ++i)
                if (!SkipString(&record, &pos)) return 0;
        }
    }
    *pcbRecord = cbRecord;
    return pos == cbRecord;
}

}  // namespace

BOOL IsLoadedBlockWellFormed(const BYTE *pbBlock, uint64_t cbBlock) {
    const ByteSpan block = {pbBlock, cbBlock};
    DWORD cbUsed = 0;
    WORD cEntries = 0;
    if (!ReadLe(&block, offsetof(DirectoryBlock, dwUsed), &cbUsed) ||
        !ReadLe(&block, offsetof(DirectoryBlock, wEntryCount), &cEntries))
        return 0;
    if (cbUsed != cbBlock || cbUsed < BLOCK_HEADER_SIZE) return 0;
    uint64_t offset = BLOCK_HEADER_SIZE;
    for (WORD i = 0; i < cEntries; ++i) {
        WORD cbRecord = 0;
        if (!IsRecordWellFormed(&block, offset, &cbRecord)) return 0;
        offset += cbRecord;
    }
    return offset == cbBlock;
}
