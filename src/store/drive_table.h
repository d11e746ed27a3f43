// The drive table: one DriveRecord per mapped drive, appended in the order drives are added and
// never reordered. The table itself (gDriveTable) is in the state table.
#pragma once

#include "pwdvmp32.h"
#include "store/block_layout.h"
#include "store/module_state.h"

// Appends a record for the drive letter that is the first character of `path`, upper-cased,
// with no blocks, and sets the dirty flag. Callers add a letter only after FindDriveRecord failed
// to find it, so the 26 records never run out; a full table still refuses (none) rather than
// write past its end.
DriveRecord *AddDriveRecord(LPCSTR path);

// The record of the drive letter that begins `path`, or none: a path whose second character is
// not ':' (a UNC path, a relative one) never names a drive record.
DriveRecord *FindDriveRecord(LPCSTR path);

// The record whose root block is `root`, or none.
DriveRecord *FindDriveByRoot(const DirectoryBlock *root);

// Number of records in use (never more than the table holds, whatever the count says).
inline DWORD DriveCount() { return gDriveTable.dwCount < DRIVE_TABLE_SIZE ? gDriveTable.dwCount : DRIVE_TABLE_SIZE; }

// Makes `drive` the current drive for the scope's lifetime and puts the previous one back, for the
// operations that work on each drive in turn (the save, the load's last pass, the pruning).
class CurrentDriveScope {
public:
    explicit CurrentDriveScope(DriveRecord *drive) : saved_(gCurrentDrive) { gCurrentDrive = drive; }
    ~CurrentDriveScope() { gCurrentDrive = saved_; }
    CurrentDriveScope(const CurrentDriveScope &) = delete;
    CurrentDriveScope &operator=(const CurrentDriveScope &) = delete;

private:
    DriveRecord *saved_;
};
