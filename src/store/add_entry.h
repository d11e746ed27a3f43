// Single records added to a block from what is on disk, and the directory records and blocks of a
// whole path (for the exports that record what a client did).
#pragma once

#include "pwdvmp32.h"

// Appends a record for `name` to `block`: a directory with its own new, empty child block, or a
// file as it is on disk at `fullPath` (size, stamps, references) with `usageCount`. Sets the dirty
// flag. Returns the new record, in the block's possibly new address (the block is relinked;
// callers must drop their old address of it), which goes to *ppBlock when ppBlock is given. None,
// with the block's content unchanged, when there is no block, the file is not there (or is a
// directory), the name is too long, the block holds 65,535 records already, or memory cannot be
// had.
EntryRecord *AddEntry(DirectoryBlock *block, LPCSTR name, LPCSTR fullPath, BOOL isDirectory, WORD usageCount,
                      DirectoryBlock **ppBlock = nullptr);

// The block of directory `fullPath` ("X:\A\B") on the current drive, which the caller has set:
// the root block and every missing directory record and block on the way are made. None when
// there is no current drive or something cannot be made (records made so far stay). Components
// longer than ENTRY_NAME_MAX are refused, so a path with one gives none.
DirectoryBlock *EnsureDirectoryPath(LPCSTR fullPath);
