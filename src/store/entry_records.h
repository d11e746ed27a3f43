// Reading entry records: a file's tail and reference part, and the lookups of a block's records by
// name and by child block id. Nothing here changes the map.
#pragma once

#include "pwdvmp32.h"
#include "store/block_layout.h"

// The file record's tail, right after its name's NUL.
BYTE *GetFileTail(const EntryRecord *e);

// A file's reference part (bRefCount, then the names), present only with ENTRY_SCANNED and
// ENTRY_HAS_REFS: none otherwise.
BYTE *GetReferencePart(const EntryRecord *e);

// The first record of `block` whose name equals `name` ignoring case (lstrcmpiA); with
// directoriesOnly, files are passed over. None when nothing matches or block is none.
EntryRecord *FindEntryByName(const DirectoryBlock *block, LPCSTR name, BOOL directoriesOnly);

// The first directory record of `block` whose wChildId is `id`, or none.
EntryRecord *FindEntryByChildId(const DirectoryBlock *block, WORD id);
