// The packed records of the map as they lie in memory and in the map file, read and written field
// by field: DriveRecord (9 bytes), the DirectoryBlock header (18 bytes) and the EntryRecords that
// follow it back to back. Every field is unaligned and little-endian, so each goes through an
// accessor, never through a pointer to the field. Pure reads and writes of fields: nothing here
// allocates, moves or links blocks (directory_blocks.h does).
//
// An entry record, offsets from its start:
//   0 wLength, 2 wFlags, 4 pChildBlock | dwFileSize, 8 wChildId | wUsageCount, 10 szName;
//   files then carry an 8-byte tail (wWriteDate, wWriteTime, wUsedDate, wUsedTime) and, with
//   ENTRY_SCANNED and ENTRY_HAS_REFS, bRefCount and that many NUL-terminated module names.
#pragma once

#include "pwdvmp32.h"
#include "store/ptr32.h"

#include <cstddef>
#include <type_traits>

#define BLOCK_HEADER_SIZE 18
#define BLOCK_ALLOC_FLAGS (GMEM_MOVEABLE | GMEM_ZEROINIT)  // 0x42: every block is movable and zero-filled
#define NO_FREE_BLOCK_ID 0xFFFF  // AllocateBlockId found no id; the block is made with it anyway
#define ENTRY_KNOWN_FLAGS (ENTRY_IS_FILE | ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_HAS_REFS | ENTRY_SEEN | ENTRY_PE)

#define ENTRY_FIXED_SIZE 10                       // wLength .. wChildId: the record up to szName
#define ENTRY_HEADER_SIZE (ENTRY_FIXED_SIZE + 1)  // the fixed part and the first byte of szName
#define ENTRY_FILE_TAIL_SIZE 8
#define DIR_RECORD_SIZE(cchName) (ENTRY_FIXED_SIZE + (cchName) + 1)                  // fixed part, name, NUL
#define FILE_RECORD_SIZE(cchName) (DIR_RECORD_SIZE(cchName) + ENTRY_FILE_TAIL_SIZE)  // no references

static_assert(sizeof(DirectoryBlock) == BLOCK_HEADER_SIZE, "the block header");
static_assert(offsetof(EntryRecord, szName) == ENTRY_FIXED_SIZE, "names start after the fixed part");
static_assert(ENTRY_KNOWN_FLAGS == 0x3F, "no other record flag exists");

// DriveRecord.
inline WORD GetDriveBlockCount(const DriveRecord *drive) { return LoadField<WORD>(&drive->wBlockCount); }
inline void SetDriveBlockCount(DriveRecord *drive, WORD count) { StoreField<WORD>(&drive->wBlockCount, count); }
inline WORD GetDriveBlocksLoaded(const DriveRecord *drive) { return LoadField<WORD>(&drive->wBlocksLoaded); }
inline void SetDriveBlocksLoaded(DriveRecord *drive, WORD count) { StoreField<WORD>(&drive->wBlocksLoaded, count); }
inline DirectoryBlock *GetDriveRoot(const DriveRecord *drive) { return LoadPtr32<DirectoryBlock>(&drive->pRootBlock); }
inline void SetDriveRoot(DriveRecord *drive, const DirectoryBlock *root) { StorePtr32(&drive->pRootBlock, root); }

// DirectoryBlock header.
inline DirectoryBlock *GetBlockParent(const DirectoryBlock *b) { return LoadPtr32<DirectoryBlock>(&b->pParent); }
inline void SetBlockParent(DirectoryBlock *b, const DirectoryBlock *parent) { StorePtr32(&b->pParent, parent); }
inline DirectoryBlock *GetBlockNext(const DirectoryBlock *b) { return LoadPtr32<DirectoryBlock>(&b->pNext); }
inline void SetBlockNext(DirectoryBlock *b, const DirectoryBlock *next) { StorePtr32(&b->pNext, next); }
inline WORD GetBlockId(const DirectoryBlock *b) { return LoadField<WORD>(&b->wBlockId); }
inline void SetBlockId(DirectoryBlock *b, WORD id) { StoreField<WORD>(&b->wBlockId, id); }
inline WORD GetBlockParentId(const DirectoryBlock *b) { return LoadField<WORD>(&b->wParentId); }
inline void SetBlockParentId(DirectoryBlock *b, WORD id) { StoreField<WORD>(&b->wParentId, id); }
inline DWORD GetBlockUsed(const DirectoryBlock *b) { return LoadField<DWORD>(&b->dwUsed); }
inline void SetBlockUsed(DirectoryBlock *b, DWORD cbUsed) { StoreField<DWORD>(&b->dwUsed, cbUsed); }
inline WORD GetBlockEntryCount(const DirectoryBlock *b) { return LoadField<WORD>(&b->wEntryCount); }
inline void SetBlockEntryCount(DirectoryBlock *b, WORD count) { StoreField<WORD>(&b->wEntryCount, count); }

// Where the next record goes: block + dwUsed.
inline BYTE *BlockEnd(const DirectoryBlock *block) {
    return reinterpret_cast<BYTE *>(const_cast<DirectoryBlock *>(block)) + GetBlockUsed(block);
}

// EntryRecord.
inline EntryRecord *FirstEntry(const DirectoryBlock *block) {
    return reinterpret_cast<EntryRecord *>(reinterpret_cast<BYTE *>(const_cast<DirectoryBlock *>(block)) +
                                           BLOCK_HEADER_SIZE);
}
inline WORD GetEntryLength(const EntryRecord *e) { return LoadField<WORD>(&e->wLength); }
inline void SetEntryLength(EntryRecord *e, WORD cb) { StoreField<WORD>(&e->wLength, cb); }
inline EntryRecord *NextEntry(const EntryRecord *e) {
    return reinterpret_cast<EntryRecord *>(reinterpret_cast<BYTE *>(const_cast<EntryRecord *>(e)) + GetEntryLength(e));
}
// Byte offset of a record inside its block.
inline DWORD EntryOffset(const DirectoryBlock *block, const EntryRecord *e) {
    return static_cast<DWORD>(reinterpret_cast<const BYTE *>(e) - reinterpret_cast<const BYTE *>(block));
}

inline WORD GetEntryFlags(const EntryRecord *e) { return LoadField<WORD>(&e->wFlags); }
inline void SetEntryFlags(EntryRecord *e, WORD flags) { StoreField<WORD>(&e->wFlags, flags); }
inline BOOL IsFile(const EntryRecord *e) { return (GetEntryFlags(e) & ENTRY_IS_FILE) != 0; }

// Directory variant.
inline DirectoryBlock *GetChildBlock(const EntryRecord *e) { return LoadPtr32<DirectoryBlock>(&e->u1.pChildBlock); }
inline void SetChildBlock(EntryRecord *e, const DirectoryBlock *child) { StorePtr32(&e->u1.pChildBlock, child); }
inline WORD GetChildId(const EntryRecord *e) { return LoadField<WORD>(&e->u2.wChildId); }
inline void SetChildId(EntryRecord *e, WORD id) { StoreField<WORD>(&e->u2.wChildId, id); }

// File variant.
inline DWORD GetEntryFileSize(const EntryRecord *e) { return LoadField<DWORD>(&e->u1.dwFileSize); }
inline void SetEntryFileSize(EntryRecord *e, DWORD cb) { StoreField<DWORD>(&e->u1.dwFileSize, cb); }
inline WORD GetUsageCount(const EntryRecord *e) { return LoadField<WORD>(&e->u2.wUsageCount); }
inline void SetUsageCount(EntryRecord *e, WORD count) { StoreField<WORD>(&e->u2.wUsageCount, count); }

inline LPSTR GetEntryName(const EntryRecord *e) { return const_cast<LPSTR>(e->szName); }

// A file's tail starts right after its name's NUL: words wWriteDate, wWriteTime, wUsedDate,
// wUsedTime, read and written with LoadField/StoreField at FILE_TAIL_* offsets.
#define FILE_TAIL_WRITE_DATE 0
#define FILE_TAIL_WRITE_TIME 2
#define FILE_TAIL_USED_DATE 4
#define FILE_TAIL_USED_TIME 6

// Visits the wEntryCount records of `block` in order (the count is read before the first visit).
// A visitor returning void sees every record; one returning bool stops the visit by returning
// true, and that record is the result (none when the visit ran through). The visitor must not add
// or remove records: removals go through PruneEntries (directory_blocks.h).
template <typename Visit>
EntryRecord *ForEachEntry(const DirectoryBlock *block, Visit &&visit) {
    EntryRecord *entry = FirstEntry(block);
    for (WORD i = GetBlockEntryCount(block); i > 0; --i, entry = NextEntry(entry)) {
        if constexpr (std::is_same_v<decltype(visit(entry)), bool>) {
            if (visit(entry)) return entry;
        } else {
            visit(entry);
        }
    }
    return nullptr;
}
