// Entry records: the variable-length, packed records of a directory block, one per file or
// subdirectory, back to back after the block header. Layout (offsets from the record's start):
//   0 wLength, 2 wFlags, 4 pChildBlock | dwFileSize, 8 wChildId | wUsageCount, 10 szName;
//   files then carry an 8-byte tail (wWriteDate, wWriteTime, wUsedDate, wUsedTime) and, with
//   ENTRY_SCANNED and ENTRY_HAS_REFS, bRefCount and that many NUL-terminated module names.
#pragma once

#include "pwdvmp32.h"
#include "store/ptr32.h"
#include "store/directory_blocks.h"

#define ENTRY_FIXED_SIZE 10  // wLength .. wChildId, before the name
#define ENTRY_FILE_TAIL_SIZE 8
#define DIR_RECORD_SIZE(cchName) ((cchName) + 11)   // fixed part, name, NUL
#define FILE_RECORD_SIZE(cchName) ((cchName) + 19)  // fixed part, name, NUL, tail (no references)

// Walking a block: FirstEntry, then NextEntry exactly wEntryCount - 1 times. A visit that removes
// records takes the count at the start and does not advance after a removal (the next record
// slides into place).
inline EntryRecord *FirstEntry(const DirectoryBlock *block) {
    return reinterpret_cast<EntryRecord *>(reinterpret_cast<BYTE *>(const_cast<DirectoryBlock *>(block)) +
                                           BLOCK_HEADER_SIZE);
}
inline WORD GetEntryLength(const EntryRecord *e) { return LoadField<WORD>(&e->wLength); }
inline void SetEntryLength(EntryRecord *e, WORD cb) { StoreField<WORD>(&e->wLength, cb); }
inline EntryRecord *NextEntry(const EntryRecord *e) {
    return reinterpret_cast<EntryRecord *>(reinterpret_cast<BYTE *>(const_cast<EntryRecord *>(e)) + GetEntryLength(e));
}
// Where the next record goes: block + dwUsed.
inline BYTE *BlockEnd(const DirectoryBlock *block) {
    return reinterpret_cast<BYTE *>(const_cast<DirectoryBlock *>(block)) + GetBlockUsed(block);
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
BYTE *GetFileTail(const EntryRecord *e);

// A file's reference part (bRefCount, then the names), present only with ENTRY_SCANNED and
// ENTRY_HAS_REFS: none otherwise.
BYTE *GetReferencePart(const EntryRecord *e);

// The first record of `block` whose name equals `name` ignoring case (lstrcmpiA); with
// directoriesOnly, files are passed over. None when nothing matches or block is none.
EntryRecord *FindEntryByName(const DirectoryBlock *block, LPCSTR name, BOOL directoriesOnly);

// The first directory record of `block` whose wChildId is `id`, or none.
EntryRecord *FindEntryByChildId(const DirectoryBlock *block, WORD id);

// Appends a byte-for-byte copy of position->pEntry to `block`, growing it by the record's length,
// and sets the dirty flag. The source may lie in `block` itself. A copied directory record still
// names the same child block; the child's pParent and wParentId are the caller's to change.
// Returns the copy, or none (nothing changed) for no block, no record or a failed growth. The
// block may have moved: its new address goes to *ppBlock when ppBlock is given.
EntryRecord *AppendEntryCopy(DirectoryBlock *block, const EntryPosition *position, DirectoryBlock **ppBlock = nullptr);

// Removes position->pEntry from its block (position->pBlock), freeing a directory's whole subtree
// (unlinked from the chain, counted off the current drive), slides the following records down and
// sets the dirty flag. The block keeps its memory (see ShrinkBlock). position->pEntry then names
// the record that followed, or the end of the records. Returns 1, or 0 when pEntry is none.
BOOL RemoveEntry(EntryPosition *position);
