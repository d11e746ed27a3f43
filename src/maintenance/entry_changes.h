// Recording what a client did to its files: a file or directory deleted, a file written or created,
// used, or moved. Only the map changes; nothing on disk is deleted, written or touched. The disk is
// read where a record is made or refreshed from it.
//
// Each operation works on its own copy of a path in a PATH_BUFFER_SIZE buffer; the caller's text is
// never changed. DeletePathEntry and UpdatePathEntry open a frame that restores the critical flag,
// so that they run inside the exports built on them (DriveMap_Move, DriveMap_UpdateSystemIniEntry)
// and inside each other.
#pragma once

#include "pwdvmp32.h"

#include "references/import_scanner.h"

// A path the change operations work on: present, a full path, at most 299 characters (a longer
// one is refused, as a cut path would name another file), and without wildcards, which name no
// single file.
BOOL IsChangePath(LPCSTR path);

// Removes the record of `path`, a directory's with its whole subtree. 1 when a record was removed.
// Error codes: 2 for a path IsChangePath refuses or one that a fixed drive does not hold in the
// map, 3 when the reference buffer cannot be had, 8 for a drive of another kind, 0 otherwise (also
// for a drive root, which has no record: result 0). Stores the code; restores the critical flag.
BOOL DeletePathEntry(LPCSTR path);

// Brings the map into agreement with the disk for `path`: a mapped file is brought up to date
// (RefreshFileEntry), a mapped file that is gone is removed, an unmapped file is added with its
// missing parent directories (RecordUnmappedPath). 1 when the map now agrees. Error codes: 1 for a
// path IsChangePath refuses or a file that cannot be added, 3 when the reference
// buffer cannot be had, 8 for a drive the map does not cover, 0 otherwise (result 0 for a drive
// root and for a path that is neither mapped nor on disk). Releases the scan buffers, stores the
// code, restores the critical flag.
BOOL UpdatePathEntry(LPCSTR path);

// For the record found at `position` for `path`: none (a drive root) gives 0; a directory 1,
// unchanged. A file gone from the disk is removed (DeletePathEntry's result). A file still there
// is brought up to date where it stands: size and write stamp from the disk, one more use (16
// bits), the used stamp now; its length, flags, name and references stay (the file is not read
// for references again). 1 when done. `pError` is not written.
BOOL RefreshFileEntry(LPCSTR path, EntryPosition *position, DWORD *pError);

// The branch of a path on a fixed drive that the map does not hold, shared by the update and the
// usage count (`workPath` is writable and may be re-cased): a directory on disk gives 1 and adds
// nothing; nothing on disk gives 0; a file is added with `usageCount` (AddFileEntry), its short
// names capitalised, giving 1, or 0 with *pError = 1 when it cannot be added.
BOOL RecordUnmappedPath(LPSTR workPath, WORD usageCount, DWORD *pError);

// Adds the record of file `path`, as it is on disk, with `usageCount`, in its parent directory's
// block, made with every missing directory above it (FindParentBlockForPath). 1 when added; 0 when
// the drive is not a fixed drive, a block cannot be had or grown, the file is not there, or the
// scan buffers cannot be had (an executable is never recorded unscanned for want of memory).
BOOL AddFileEntry(LPCSTR path, WORD usageCount);

// Makes the drive of `path` the current drive, adding its drive record when the table does not
// hold it and it is a fixed drive, and sets position->pBlock to the block of the path's parent
// directory, found or made with the records and blocks of every missing directory (none when one
// cannot be made); position->pEntry is none. 0, with the position cleared, when the path is
// absent or empty or the drive is neither in the table nor a fixed drive.
BOOL FindParentBlockForPath(LPCSTR path, EntryPosition *position);

// Copies the record at *oldPosition, found for `oldPath`, to the end of the block of `newPath`'s
// parent directory (FindParentBlockForPath), keeping every field, its name included. A directory's
// subtree goes with its record: the child block is handed to the copy and the old record no longer
// names it. A directory is not copied to another drive (block counts and ids are per drive) nor
// into its own subtree. On return *oldPosition holds the old record again, found anew if a block
// moved, ready for the caller to remove; it is none if the old path no longer resolves. 1 when the
// copy was made.
BOOL MoveEntryRecord(LPCSTR newPath, LPCSTR oldPath, EntryPosition *oldPosition);

// Releases the import scanner's buffers when the operation that may have used them ends.
struct ScanBuffersRelease {
    ScanBuffersRelease() = default;
    ~ScanBuffersRelease() { FreeScanBuffers(); }
    ScanBuffersRelease(const ScanBuffersRelease &) = delete;
    ScanBuffersRelease &operator=(const ScanBuffersRelease &) = delete;
};
