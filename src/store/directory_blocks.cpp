#include "store/directory_blocks.h"

#include "store/drive_table.h"
#include "store/entry_records.h"
#include "support/path_utils.h"

#include <cstring>

// Two things the chain remembers (gBlockIdUse, gBeforeLastBlock in the state table) so that adding
// n directories does not cost n walks of the chain: how many blocks carry each id (outside
// MODE_BUILD every new block searches for a free id), counted on first need and kept by
// AppendToChain and UnlinkBlock; and the block before the tail, which the builder grows and cuts
// back all the time (a moved block's predecessor must point at its new address). The scans'
// directory trail (path_lookup.h) holds block addresses too: kept right here as blocks move and go.

DirectoryBlock *GetChainHead() {
    if (gDriveTable.dwCount == 0) return nullptr;
    return GetDriveRoot(&gDriveTable.records[0]);
}

void ForgetChainCaches() {
    gBlockIdUseCounted = FALSE;
    gBeforeLastKnown = FALSE;
    ForgetDirectoryTrail();
}

void ForgetDirectoryTrail() {
    gDirectoryTrail.pDrive = nullptr;
    gDirectoryTrail.cLevels = 0;
}

// A freed block's address may come back for another block: the trail ends before it.
static void CutTrailAt(const DirectoryBlock *block) {
    for (DWORD level = 1; level <= gDirectoryTrail.cLevels; ++level) {
        if (gDirectoryTrail.blocks[level] == block) {
            gDirectoryTrail.cLevels = level - 1;
            return;
        }
    }
}

static BOOL IsBlockIdFree(WORD id) {
    if (!gBlockIdUseCounted) {
        std::memset(gBlockIdUse, 0, sizeof gBlockIdUse);
        for (DirectoryBlock *block = GetChainHead(); block != nullptr; block = GetBlockNext(block))
            ++gBlockIdUse[GetBlockId(block)];
        gBlockIdUseCounted = TRUE;
    }
    return gBlockIdUse[id] == 0;
}

void AppendToChain(DirectoryBlock *block) {
    if (gLastBlock != nullptr) SetBlockNext(gLastBlock, block);
    gBeforeLastBlock = gLastBlock;
    gBeforeLastKnown = TRUE;
    gLastBlock = block;
    if (gBlockIdUseCounted) ++gBlockIdUse[GetBlockId(block)];
}

WORD AllocateBlockId() {
    if (gOperationMode == MODE_BUILD) return static_cast<WORD>(gNextBlockId++);

    const DWORD start = gNextBlockId & 0xFFFF;
    auto takeFirstFree = [](DWORD from, DWORD to, WORD *id) {
        for (DWORD candidate = from; candidate < to; ++candidate) {
            if (!IsBlockIdFree(static_cast<WORD>(candidate))) continue;
            gNextBlockId = candidate + 1;
            *id = static_cast<WORD>(candidate);
            return TRUE;
        }
        return FALSE;
    };
    WORD id = NO_FREE_BLOCK_ID;
    if (!takeFirstFree(start, NO_FREE_BLOCK_ID, &id)) takeFirstFree(0, start, &id);
    return id;
}

DirectoryBlock *CreateDirectoryBlock(DirectoryBlock *parent) {
    if (gCurrentDrive == nullptr) return nullptr;
    HGLOBAL handle = GlobalAlloc(BLOCK_ALLOC_FLAGS, BLOCK_HEADER_SIZE);
    if (handle == nullptr) return nullptr;
    auto *block = static_cast<DirectoryBlock *>(GlobalLock(handle));
    if (block == nullptr) {
        GlobalFree(handle);
        return nullptr;
    }

    SetBlockUsed(block, BLOCK_HEADER_SIZE);
    SetBlockId(block, AllocateBlockId());
    if (parent != nullptr) {
        SetBlockParent(block, parent);
        SetBlockParentId(block, GetBlockId(parent));
    }

    AppendToChain(block);

    const WORD count = GetDriveBlockCount(gCurrentDrive);
    SetDriveBlockCount(gCurrentDrive, static_cast<WORD>(count + 1));
    if (count == 0) SetDriveRoot(gCurrentDrive, block);
    return block;
}

DirectoryBlock *FindBlockById(WORD id) {
    for (DirectoryBlock *block = GetChainHead(); block != nullptr; block = GetBlockNext(block)) {
        if (GetBlockId(block) == id) return block;
    }
    return nullptr;
}

void UnlinkBlock(DirectoryBlock *block) {
    for (DirectoryBlock *p = GetChainHead(); p != nullptr; p = GetBlockNext(p)) {
        if (GetBlockNext(p) == block) {
            SetBlockNext(p, GetBlockNext(block));
            if (gLastBlock == block) gLastBlock = p;
            if (gBlockIdUseCounted && gBlockIdUse[GetBlockId(block)] > 0) --gBlockIdUse[GetBlockId(block)];
            gBeforeLastKnown = FALSE;
            return;
        }
    }
}

DirectoryBlock *GrowBlock(DirectoryBlock *block, DWORD cbNewSize) {
    HGLOBAL handle = block != nullptr ? GlobalHandle(block) : nullptr;
    if (handle == nullptr) return nullptr;
    GlobalUnlock(handle);
    HGLOBAL newHandle = GlobalReAlloc(handle, cbNewSize, BLOCK_ALLOC_FLAGS);
    if (newHandle == nullptr) {
        // A failed reallocation leaves the block as it was: lock it again where the map expects it.
        GlobalLock(handle);
        return nullptr;
    }
    auto *moved = static_cast<DirectoryBlock *>(GlobalLock(newHandle));
    if (moved == nullptr) return nullptr;
    if (moved != block) RelinkMovedBlock(moved, block);
    return moved;
}

void RelinkMovedBlock(DirectoryBlock *newAddress, DirectoryBlock *oldAddress) {
    DirectoryBlock *parent = GetBlockParent(newAddress);
    if (parent == nullptr) {
        // A root: its drive is the one whose root it was.
        if (DriveRecord *drive = FindDriveByRoot(oldAddress)) SetDriveRoot(drive, newAddress);
    } else {
        EntryRecord *record = FindEntryByChildId(parent, GetBlockId(newAddress));
        if (record != nullptr) SetChildBlock(record, newAddress);
    }

    ForEachEntry(newAddress, [&](EntryRecord *entry) {
        DirectoryBlock *child = IsFile(entry) ? nullptr : GetChildBlock(entry);
        if (child != nullptr) SetBlockParent(child, newAddress);
    });

    if (gBeforeLastKnown && gBeforeLastBlock == oldAddress) gBeforeLastBlock = newAddress;
    if (gBeforeLastKnown && oldAddress == gLastBlock && gBeforeLastBlock != nullptr &&
        GetBlockNext(gBeforeLastBlock) == oldAddress) {
        SetBlockNext(gBeforeLastBlock, newAddress);
    } else if (GetChainHead() != newAddress) {
        for (DirectoryBlock *p = GetChainHead(); p != nullptr; p = GetBlockNext(p)) {
            if (GetBlockNext(p) == oldAddress) {
                SetBlockNext(p, newAddress);
                break;
            }
        }
    }

    if (gLastBlock == oldAddress) gLastBlock = newAddress;
    for (DWORD level = 1; level <= gDirectoryTrail.cLevels; ++level) {
        if (gDirectoryTrail.blocks[level] == oldAddress) gDirectoryTrail.blocks[level] = newAddress;
    }
}

void FreeBlockTree(DirectoryBlock *block, BOOL unlink) {
    if (block == nullptr) return;
    ForEachEntry(block, [&](EntryRecord *entry) {
        if (!IsFile(entry)) FreeBlockTree(GetChildBlock(entry), unlink);
    });
    if (unlink) UnlinkBlock(block);
    CutTrailAt(block);
    if (gCurrentDrive != nullptr)
        SetDriveBlockCount(gCurrentDrive, static_cast<WORD>(GetDriveBlockCount(gCurrentDrive) - 1));
    FreeLockedBuffer(block);
}

DirectoryBlock *ShrinkBlock(DirectoryBlock *block) {
    if (block != nullptr && gShrinkPending) {
        DirectoryBlock *moved = GrowBlock(block, GetBlockUsed(block));
        if (moved != nullptr) block = moved;
    }
    gShrinkPending = 0;
    return block;
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
