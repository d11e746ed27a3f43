#include "store/entry_records.h"

#include "store/directory_blocks.h"
#include "store/module_state.h"

#include <cstring>

BYTE *GetFileTail(const EntryRecord *e) {
    LPSTR name = GetEntryName(e);
    return reinterpret_cast<BYTE *>(name) + std::strlen(name) + 1;
}

BYTE *GetReferencePart(const EntryRecord *e) {
    const WORD needed = ENTRY_IS_FILE | ENTRY_SCANNED | ENTRY_HAS_REFS;
    if ((GetEntryFlags(e) & needed) != needed) return nullptr;
    return GetFileTail(e) + ENTRY_FILE_TAIL_SIZE;
}

EntryRecord *FindEntryByName(const DirectoryBlock *block, LPCSTR name, BOOL directoriesOnly) {
    if (block == nullptr) return nullptr;
    EntryRecord *entry = FirstEntry(block);
    for (WORD i = GetBlockEntryCount(block); i > 0; --i, entry = NextEntry(entry)) {
        if (directoriesOnly && IsFile(entry)) continue;
        if (lstrcmpiA(GetEntryName(entry), name) == 0) return entry;
    }
    return nullptr;
}

EntryRecord *FindEntryByChildId(const DirectoryBlock *block, WORD id) {
    if (block == nullptr) return nullptr;
    EntryRecord *entry = FirstEntry(block);
    for (WORD i = GetBlockEntryCount(block); i > 0; --i, entry = NextEntry(entry)) {
        if (!IsFile(entry) && GetChildId(entry) == id) return entry;
    }
    return nullptr;
}

EntryRecord *AppendEntryCopy(DirectoryBlock *block, const EntryPosition *position, DirectoryBlock **ppBlock) {
    if (block == nullptr || position == nullptr) return nullptr;
    const EntryRecord *source = LoadPtr32<EntryRecord>(&position->pEntry);
    if (source == nullptr) return nullptr;

    // A source inside the destination moves with it: remember its offset, not its address, and
    // find it again after the growth. The bytes themselves are unchanged by a move.
    const BYTE *sourceBytes = reinterpret_cast<const BYTE *>(source);
    const BYTE *blockBytes = reinterpret_cast<const BYTE *>(block);
    const DWORD cbUsed = GetBlockUsed(block);
    const bool inBlock = sourceBytes >= blockBytes && sourceBytes < blockBytes + cbUsed;
    const DWORD sourceOffset = inBlock ? static_cast<DWORD>(sourceBytes - blockBytes) : 0;

    const WORD cbRecord = GetEntryLength(source);
    DirectoryBlock *grown = GrowBlock(block, cbUsed + cbRecord);
    if (grown == nullptr) return nullptr;
    if (inBlock) source = reinterpret_cast<const EntryRecord *>(reinterpret_cast<BYTE *>(grown) + sourceOffset);

    auto *copy = reinterpret_cast<EntryRecord *>(BlockEnd(grown));
    std::memcpy(copy, source, cbRecord);
    SetBlockUsed(grown, cbUsed + cbRecord);
    SetBlockEntryCount(grown, static_cast<WORD>(GetBlockEntryCount(grown) + 1));
    gDirtyFlag = 1;
    if (ppBlock != nullptr) *ppBlock = grown;
    return copy;
}

BOOL RemoveEntry(EntryPosition *position) {
    EntryRecord *entry = LoadPtr32<EntryRecord>(&position->pEntry);
    if (entry == nullptr) return 0;
    DirectoryBlock *block = LoadPtr32<DirectoryBlock>(&position->pBlock);

    if (!IsFile(entry)) FreeBlockTree(GetChildBlock(entry), /*unlink=*/1);

    const WORD cbRecord = GetEntryLength(entry);
    const DWORD offset = EntryOffset(block, entry);
    const DWORD cbUsed = GetBlockUsed(block) - cbRecord;
    SetBlockUsed(block, cbUsed);
    SetBlockEntryCount(block, static_cast<WORD>(GetBlockEntryCount(block) - 1));
    std::memmove(entry, reinterpret_cast<BYTE *>(entry) + cbRecord, cbUsed - offset);
    gDirtyFlag = 1;
    return 1;
}
