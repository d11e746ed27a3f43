// Making a new record from what is on disk: its header (length and flags, with the module
// references of an executable), a file's tail, and writing the whole record at the end of a block.
//
// Limits, so that no record outgrows its 16-bit wLength and no buffer is overrun:
// - names of ENTRY_NAME_MAX (259) characters at most, what a find record can hold; longer names
//   are refused (BuildEntryHeader fails) rather than cut, as a cut name would not be the entry on
//   disk;
// - at most 255 references, the reach of the 8-bit bRefCount: a file that references more keeps
//   the first 255 names in import order and drops the rest;
// - the reference part is at most the reference buffer's 10,240 bytes, so the longest record
//   (259 + 19 + 10,240 bytes) stays far below 65,535.
#pragma once

#include "pwdvmp32.h"
#include "store/block_layout.h"
#include "store/reference_buffer.h"

#define ENTRY_NAME_MAX 259         // characters of a record's name, without the NUL
#define MAX_RECORD_REFERENCES 255  // bRefCount is 8 bits

static_assert(FILE_RECORD_SIZE(ENTRY_NAME_MAX) + REFERENCE_BUFFER_SIZE <= 0xFFFF, "every record fits wLength");

// A new record's first ENTRY_HEADER_SIZE bytes and what its reference part will hold.
struct NewRecord {
    BYTE header[ENTRY_HEADER_SIZE];  // wLength, wFlags, the 32- and 16-bit fields, a zero name byte
    DWORD cbReferences;              // the reference part's size (bRefCount and names); 0 without
    DWORD cReferences;               // names in it; 0 without
    EntryRecord *Header() { return reinterpret_cast<EntryRecord *>(header); }
    WORD Length() { return GetEntryLength(Header()); }
};

// Fills `record` for an entry named `name`: wLength and wFlags, the 32- and 16-bit fields zero. For
// a file, scans `fullPath` for referenced modules into the reference buffer (not when the buffer is
// absent or the path has 300+ characters: the file is then recorded as not scanned) and counts
// the reference part. ENTRY_SEEN is set in MODE_SYNC. Returns 1, or 0 (everything zeroed) for a
// name longer than ENTRY_NAME_MAX.
BOOL BuildEntryHeader(LPCSTR name, LPCSTR fullPath, BOOL isDirectory, NewRecord *record);

// Writes a file record's tail after its name: the find record's last-write stamps and the current
// local time as the used stamps; then, when the record has ENTRY_SCANNED and ENTRY_HAS_REFS,
// bRefCount and the first cbReferences - 1 bytes of the reference buffer, lower-cased in place.
// The record must have the room BuildEntryHeader counted.
void WriteFileTail(EntryRecord *record, const FIND_DATA *pFind, DWORD cReferences, DWORD cbReferences);

// Writes `record` (its header fields complete) at the end of `block`: the header, `name` and, for
// a file, the tail from `pFind`; then counts it in dwUsed and wEntryCount. The caller made room
// for record->Length() bytes. Returns the record in the block.
EntryRecord *AppendNewRecord(DirectoryBlock *block, NewRecord *record, LPCSTR name, const FIND_DATA *pFind);
