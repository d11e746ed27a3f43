// Maps made by hand for tests, through the store's own operations: drives, directory records with
// their child blocks, file records with a name, size and optional module references.
//
// Appending a record may move the block it goes into: the functions that append take the block
// by address and update it. Blocks returned earlier for other directories stay valid.
#pragma once

#include "pwdvmp32.h"

#include <initializer_list>

// Frees any map (ReleaseMap) and leaves the store as a loaded module starts it, in MODE_UPDATE
// (block ids searched, not counted) with no current drive.
void ResetTestMap();

// Adds drive `letter` with an empty root block and makes it the current drive. Returns its root
// block, or none when the drive or block could not be made.
DirectoryBlock *BuildDrive(char letter);

// Makes the drive whose tree holds `block` the current drive (found by climbing pParent to a root).
void SelectDriveOf(const DirectoryBlock *block);

// Appends a directory record `name` to *block and links it to a new empty child block. Returns
// the child block, or none on failure.
DirectoryBlock *BuildDirectory(DirectoryBlock **block, const char *name);

// Appends a file record `name` of cbSize bytes to *block. With references, the record is a scanned
// executable (ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_HAS_REFS) carrying them; `extraFlags` are
// or-ed in. Tail: write stamp 1999-12-31 23:59:58, used stamp 2000-01-01 00:00:00. Returns the
// record, or none on failure.
EntryRecord *BuildFile(DirectoryBlock **block, const char *name, DWORD cbSize = 0,
                       std::initializer_list<const char *> references = {}, WORD extraFlags = 0);

// The record at `path` below `block`, components separated by backslashes ("a\\b\\f.txt"),
// matched ignoring case; none when a component is missing.
EntryRecord *FindTestEntry(const DirectoryBlock *block, const char *path);
