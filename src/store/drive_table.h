// The drive table: one DriveRecord per mapped drive, appended in the order drives are added and
// never reordered. The table itself (gDriveTable) lives with the other module globals.
#pragma once

#include "pwdvmp32.h"
#include "store/ptr32.h"

// Appends a record for the drive letter that is the first character of `path`, upper-cased,
// with no blocks, and sets the dirty flag. Callers add a letter only after FindDriveRecord failed
// to find it, so the 26 records never run out; a full table still refuses (none) rather than
// write past its end.
DriveRecord *AddDriveRecord(LPCSTR path);

// The record of the drive letter that begins `path`, or none: a path whose second character is
// not ':' (a UNC path, a relative one) never names a drive record.
DriveRecord *FindDriveRecord(LPCSTR path);

// Field accessors (records are packed; every field is unaligned).
inline WORD GetDriveBlockCount(const DriveRecord *drive) { return LoadField<WORD>(&drive->wBlockCount); }
inline void SetDriveBlockCount(DriveRecord *drive, WORD count) { StoreField<WORD>(&drive->wBlockCount, count); }
inline DirectoryBlock *GetDriveRoot(const DriveRecord *drive) { return LoadPtr32<DirectoryBlock>(&drive->pRootBlock); }
inline void SetDriveRoot(DriveRecord *drive, const DirectoryBlock *root) { StorePtr32(&drive->pRootBlock, root); }
