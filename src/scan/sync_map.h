// Synchronising the map with the disks: the pieces below DriveMap_SyncAll that tests reach.
#pragma once

#include "pwdvmp32.h"

// 1 when the DOS stamp (dateA, timeA) is later than (dateB, timeB), -1 when earlier, 0 when equal:
// dates first, then times, as unsigned numbers.
int CompareDosStamps(WORD dateA, WORD timeA, WORD dateB, WORD timeB);

// The record of the current block named `name` (letters A to Z compared without case), searched
// from the match cursor to the end and then from the first record up to the cursor. A match moves
// the cursor past it; none leaves it.
EntryRecord *FindNextMatchingEntry(LPCSTR name);

// Removes every record below `block` (none: nothing) that the running synchronisation did not
// mark seen, and clears the marks of the others.
void PruneUnseen(DirectoryBlock *block);

// Clears ENTRY_SEEN on every record of the map. A synchronisation starts with it: one that was
// stopped left its marks on the records it met, and a mark left over would keep a record the next
// synchronisation does not meet.
void ClearSeenMarks();

// PruneUnseen on the root block of every drive of the table.
void PruneAllDrives();
