// Directory blocks: one locked, movable global-memory block per directory, an 18-byte header
// followed by its entry records. Every block of every drive is on one chain through pNext, in
// order of creation; its head is the first drive's root block, its tail gLastBlock.
//
// Everything that allocates, grows, moves, relinks or frees blocks, and adds or removes records in
// them, is here; reading records is entry_records.h. Operations that count blocks act on
// gCurrentDrive, which the caller sets first. Whoever resizes a block gets its (possibly new)
// address back; every pointer to it stored in the map (parent record, children, chain, drive root,
// gLastBlock) is already updated, but copies the caller holds itself are not.
#pragma once

#include "pwdvmp32.h"
#include "store/block_layout.h"
#include "store/module_state.h"

// Head of the block chain: the first drive's root block, or none when there is no drive.
DirectoryBlock *GetChainHead();

// A block id no block of the chain carries. In MODE_BUILD the counter is handed out untested
// (0, 1, 2, ... for a fresh build; a build of more than 65,536 blocks repeats ids). Otherwise the
// search runs upward from the counter's low 16 bits, then wraps to 0, and never yields 0xFFFF:
// that is the answer when every id is taken (the counter then stays as it was).
WORD AllocateBlockId();

// Puts `block`, its id already set, at the end of the chain.
void AppendToChain(DirectoryBlock *block);

// Drops what the chain operations remember (ids in use, the tail's predecessor); for when the
// map is freed or replaced.
void ForgetChainCaches();

// Empties the scans' directory trail (gDirectoryTrail); ForgetChainCaches does it too.
void ForgetDirectoryTrail();

// A new empty block (18 bytes) with a fresh id, child of `parent` (none for a drive's root),
// appended to the chain and counted on the current drive; the current drive's first block becomes
// its root. Returns none, changing nothing, when the memory cannot be had or no current drive is
// set: callers treat that as their own allocation failure. The caller writes the directory record
// that points to the block.
DirectoryBlock *CreateDirectoryBlock(DirectoryBlock *parent);

// The first block of the chain carrying `id`, or none.
DirectoryBlock *FindBlockById(WORD id);

// Takes `block` out of the chain (its predecessor skips it; gLastBlock moves back if it was the
// tail). The head, a drive's root, is never unlinked: asked to, this does nothing.
void UnlinkBlock(DirectoryBlock *block);

// Reallocates `block` to cbNewSize bytes (larger or smaller; new bytes are zero) and relinks it
// if it moved. Returns the block's address, or none on failure, when the block keeps its address,
// size and content.
DirectoryBlock *GrowBlock(DirectoryBlock *block, DWORD cbNewSize);

// After a block moved from oldAddress to newAddress: points its parent's record (or, for a root,
// its drive's pRootBlock), its children's pParent, its chain predecessor and gLastBlock at the new
// address. Reads only the new copy; the old address is compared, never dereferenced.
void RelinkMovedBlock(DirectoryBlock *newAddress, DirectoryBlock *oldAddress);

// Frees `block` (none: nothing) and every block below it, children first, decrementing the
// current drive's block count for each. With `unlink` each block also leaves the chain; without,
// the caller discards the chain as a whole (freeing the map).
void FreeBlockTree(DirectoryBlock *block, BOOL unlink);

// With gShrinkPending set, cuts `block` back to dwUsed bytes (relinking it if it moved). Clears
// gShrinkPending in every case and returns the block's address (none for none). If the cut fails
// the block stays as it was, at its address.
DirectoryBlock *ShrinkBlock(DirectoryBlock *block);

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

// The removal walk over one block: visits its wEntryCount records (counted at the start) in order,
// removes each record `remove` picks (RemoveEntry: the next record slides into its place, and the
// walk does not advance) and hands every other record to `keep`. When anything was removed the
// dirty flag is set and the block cut back to dwUsed (it may move, and is relinked). `keep` may
// prune the record's child block in turn.
template <typename Remove, typename Keep>
void PruneEntries(DirectoryBlock *block, Remove &&remove, Keep &&keep) {
    BOOL removed = FALSE;
    EntryPosition position;
    StorePtr32(&position.pBlock, block);
    EntryRecord *entry = FirstEntry(block);
    for (WORD i = GetBlockEntryCount(block); i > 0; --i) {
        if (remove(entry)) {
            StorePtr32(&position.pEntry, entry);
            RemoveEntry(&position);
            removed = TRUE;
        } else {
            keep(entry);
            entry = NextEntry(entry);
        }
    }
    if (removed) {
        gDirtyFlag = 1;
        gShrinkPending = 1;
        ShrinkBlock(block);
    }
}
