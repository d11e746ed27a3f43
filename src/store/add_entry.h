// Making new entry records from what is on disk: a record's header (length and flags, with the
// module references of an executable), a file's tail, single records added to a block, and the
// directory records and blocks of a whole path.
//
// Limits, so that no record outgrows its 16-bit wLength and no buffer is overrun:
// - names of ENTRY_NAME_MAX (259) characters at most, what a find record can hold; longer names
//   are refused (BuildEntryHeader and AddEntry fail) rather than cut, as a cut name would not be
//   the entry on disk;
// - at most 255 references, the reach of the 8-bit bRefCount: a file that references more keeps
//   the first 255 names in import order and drops the rest;
// - the reference part is at most the reference buffer's 10,240 bytes, so the longest record
//   (259 + 19 + 10,240 bytes) stays far below 65,535.
#pragma once

#include "pwdvmp32.h"

#define REFERENCE_BUFFER_SIZE 10240
#define ENTRY_NAME_MAX 259         // characters of a record's name, without the NUL
#define ENTRY_HEADER_SIZE 11       // wLength .. wChildId and the first byte of szName
#define MAX_RECORD_REFERENCES 255  // bRefCount is 8 bits

static_assert(ENTRY_NAME_MAX + 19 + REFERENCE_BUFFER_SIZE <= 0xFFFF, "every record fits wLength");

// The module-owned buffer (10,240 bytes, locked global memory) into which an executable's module
// names are read while its record is made: a multi-string list. None until EnsureReferenceBuffer.
extern LPSTR gReferenceBuffer;

// Allocates the reference buffer if it is absent. 0, or DRIVEMAP_* error 3 when it cannot be had
// (the buffer then stays absent). Called by every export that may make file records.
DWORD EnsureReferenceBuffer();

// Frees the reference buffer (the map is being freed); safe when it is absent.
void FreeReferenceBuffer();

// Fills the 11-byte header of a new record named `name` (wLength, wFlags, a zero 32- and 16-bit
// field and a zero first name byte). For a file, scans `fullPath` for referenced modules into the
// reference buffer (not when the buffer is absent or the path has 300+ characters: the file is
// then recorded as not scanned) and hands back the reference part's size (bRefCount and names) and
// its count of names, both 0 without references. ENTRY_SEEN is set in MODE_SYNC. Returns 1, or 0
// (header, size and count zeroed) for a name longer than ENTRY_NAME_MAX.
BOOL BuildEntryHeader(LPCSTR name, LPCSTR fullPath, BOOL isDirectory, BYTE *header, DWORD *pcbReferences,
                      DWORD *pcReferences);

// Writes a file record's tail after its name: the find record's last-write stamps and the current
// local time as the used stamps; then, when the record has ENTRY_SCANNED and ENTRY_HAS_REFS,
// bRefCount and the first cbReferences - 1 bytes of the reference buffer, lower-cased in place.
// The record must have the room BuildEntryHeader counted.
void WriteFileTail(EntryRecord *record, const FIND_DATA *pFind, DWORD cReferences, DWORD cbReferences);

// Appends a record for `name` to `block`: a directory with its own new, empty child block, or a
// file as it is on disk at `fullPath` (size, stamps, references) with `usageCount`. Sets the dirty
// flag. Returns the new record, in the block's possibly new address (the block is relinked;
// callers must drop their old address of it). None, with the block's content unchanged, when
// there is no block, the file is not there (or is a directory), the name is too long, the block
// holds 65,535 records already, or memory cannot be had.
EntryRecord *AddEntry(DirectoryBlock *block, LPCSTR name, LPCSTR fullPath, BOOL isDirectory, WORD usageCount);

// The block of directory `fullPath` ("X:\A\B") on the current drive, which the caller has set:
// the root block and every missing directory record and block on the way are made. None when
// there is no current drive or something cannot be made (records made so far stay). Components
// longer than ENTRY_NAME_MAX are refused, so a path with one gives none.
DirectoryBlock *EnsureDirectoryPath(LPCSTR fullPath);
