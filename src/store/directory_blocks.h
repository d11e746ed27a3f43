// Directory blocks: one locked, movable global-memory block per directory, an 18-byte header
// followed by its entry records. Every block of every drive is on one chain through pNext, in
// order of creation; its head is the first drive's root block, its tail gLastBlock.
//
// Operations that count blocks or reach a drive's root act on gCurrentDrive, which the caller
// sets first. Whoever resizes a block gets its (possibly new) address back; every pointer to it
// stored in the map (parent record, children, chain, drive root, gLastBlock) is already updated,
// but copies the caller holds itself are not.
#pragma once

#include "pwdvmp32.h"
#include "store/ptr32.h"

#define BLOCK_HEADER_SIZE 18
#define NO_FREE_BLOCK_ID 0xFFFF  // AllocateBlockId found no id; the block is made with it anyway
#define BLOCK_ALLOC_FLAGS 0x42   // GMEM_MOVEABLE | GMEM_ZEROINIT

// Header field accessors (the header is packed; use these, never a pointer to a field).
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
// the current drive's pRootBlock), its children's pParent, its chain predecessor and gLastBlock
// at the new address. Reads only the new copy; the old address is compared, never dereferenced.
void RelinkMovedBlock(DirectoryBlock *newAddress, DirectoryBlock *oldAddress);

// Frees `block` (none: nothing) and every block below it, children first, decrementing the
// current drive's block count for each. With `unlink` each block also leaves the chain; without,
// the caller discards the chain as a whole (freeing the map).
void FreeBlockTree(DirectoryBlock *block, BOOL unlink);

// With gShrinkPending set, cuts `block` back to dwUsed bytes (relinking it if it moved). Clears
// gShrinkPending in every case and returns the block's address (none for none). If the cut fails
// the block stays as it was, at its address.
DirectoryBlock *ShrinkBlock(DirectoryBlock *block);
