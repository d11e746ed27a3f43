#include "store/directory_blocks.h"

#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/path_utils.h"

#include <cstring>

DirectoryBlock *GetChainHead() {
    if (gDriveTable.dwCount == 0) return nullptr;
    return GetDriveRoot(&gDriveTable.records[0]);
}

// Two things the chain operations remember so that adding n directories does not cost n times
// the chain: how many blocks carry each id (outside MODE_BUILD every new block searches for a
// free id), counted on first need and kept by AppendToChain and UnlinkBlock; and the block before
// the tail, which the builder grows and cuts back all the time (a moved block's predecessor must
// point at its new address). Both are forgotten with the map, when blocks come and go wholesale.
static WORD gIdUse[0x10000];
static BOOL gIdUseCounted = FALSE;
static DirectoryBlock *gBeforeLastBlock = nullptr;
static BOOL gBeforeLastKnown = FALSE;

void ForgetChainCaches() {
    gIdUseCounted = FALSE;
    gBeforeLastKnown = FALSE;
}

static BOOL IsBlockIdFree(WORD id) {
    if (!gIdUseCounted) {
        std::memset(gIdUse, 0, sizeof gIdUse);
        for (DirectoryBlock *block = GetChainHead(); block != nullptr; block = GetBlockNext(block))
            ++gIdUse[GetBlockId(block)];
        gIdUseCounted = TRUE;
    }
    return gIdUse[id] == 0;
}

void AppendToChain(DirectoryBlock *block) {
    if (gLastBlock != nullptr) SetBlockNext(gLastBlock, block);
    gBeforeLastBlock = gLastBlock;
    gBeforeLastKnown = TRUE;
    gLastBlock = block;
    if (gIdUseCounted) ++gIdUse[GetBlockId(block)];
}

WORD AllocateBlockId() {
    if (gOperationMode == MODE_BUILD) return static_cast<WORD>(gNextBlockId++);

    const DWORD start = gNextBlockId & 0xFFFF;
    for (DWORD candidate = start; candidate < NO_FREE_BLOCK_ID; ++candidate) {
        if (IsBlockIdFree(static_cast<WORD>(candidate))) {
            gNextBlockId = candidate + 1;
            return static_cast<WORD>(candidate);
        }
    }
    for (DWORD candidate = 0; candidate < start; ++candidate) {
        if (IsBlockIdFree(static_cast<WORD>(candidate))) {
            gNextBlockId = candidate + 1;
            return static_cast<WORD>(candidate);
        }
    }
    return NO_FREE_BLOCK_ID;
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
            if (gIdUseCounted && gIdUse[GetBlockId(block)] > 0) --gIdUse[GetBlockId(block)];
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
        if (gCurrentDrive != nullptr) SetDriveRoot(gCurrentDrive, newAddress);
    } else {
        EntryRecord *record = FindEntryByChildId(parent, GetBlockId(newAddress));
        if (record != nullptr) SetChildBlock(record, newAddress);
    }

    EntryRecord *entry = FirstEntry(newAddress);
    for (WORD i = GetBlockEntryCount(newAddress); i > 0; --i, entry = NextEntry(entry)) {
        if (IsFile(entry)) continue;
        DirectoryBlock *child = GetChildBlock(entry);
        if (child != nullptr) SetBlockParent(child, newAddress);
    }

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
}

void FreeBlockTree(DirectoryBlock *block, BOOL unlink) {
    if (block == nullptr) return;
    EntryRecord *entry = FirstEntry(block);
    for (WORD i = GetBlockEntryCount(block); i > 0; --i, entry = NextEntry(entry)) {
        if (!IsFile(entry)) FreeBlockTree(GetChildBlock(entry), unlink);
    }
    if (unlink) UnlinkBlock(block);
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
