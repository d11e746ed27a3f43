// Turning full paths into map positions and back. Every record holds one path component, so a
// lookup walks the blocks from the drive's root one component at a time, comparing names without
// regard to case (lstrcmpiA), and a full path is rebuilt by climbing pParent links to the root.
#pragma once

#include "pwdvmp32.h"

// Walks `path` ("X:\" and components) through the current drive's blocks. Returns 1 when the
// path's record was reached, with *position = (its block, the record), or (the root block, none)
// for the drive's root; a file met part-way ends the walk with that file, whatever follows.
// Returns 0 otherwise, with *position = (the deepest directory block reached, none), or all none
// when there is no current drive or the path does not begin with a drive root (UNC paths included).
// With directoriesOnly, file records are passed over. A trailing backslash is ignored; an empty
// component (two backslashes) ends the path there. A component longer than 299 characters names
// nothing: the walk fails at it, like a missing name (no map name is that long).
BOOL WalkPath(LPCSTR path, EntryPosition *position, BOOL directoriesOnly);

// Makes the drive of `path` the current drive and walks the path there (files included). 0, with
// *position cleared and the current drive unchanged, when the map holds no record of that drive.
BOOL ResolvePath(LPCSTR path, EntryPosition *position);

// How LookUpFullPath ended.
#define LOOKUP_FOUND 0        // *position holds the path's record (or a drive root)
#define LOOKUP_NOT_IN_MAP 1   // the path lies on a fixed drive, the kind the map covers, but is not in it
#define LOOKUP_NOT_COVERED 2  // the path lies on a drive of another kind

// The lookup of a full path that the exports share: ResolvePath of `workPath` (a 300-byte buffer
// holding a full path of at most 299 characters); when that fails on a substituted drive,
// `workPath` becomes the path's true path (GetFullPath) and is resolved again, once. A true path
// that is itself on a substituted drive, or that cannot be had, counts as not covered, so the
// rewrite always ends; `workPath` is replaced only by a true path actually had. On
// LOOKUP_NOT_IN_MAP `workPath` holds the path as it lies on its fixed drive.
DWORD LookUpFullPath(LPSTR workPath, EntryPosition *position);

// WalkPath(path, position, /*directoriesOnly=*/1) for the scans, which enter directories depth
// first, with the same result: when the path's parent directory is the drive's root or on the
// directory trail (gDirectoryTrail), only the parent's block is searched. The trail is cut back to
// that parent (emptied when the path is walked from the root).
BOOL WalkScanDirectory(LPCSTR path, EntryPosition *position);

// Puts directory `path`, whose record now names `block`, at the end of the trail when its parent
// is the trail's last level (or the root); otherwise leaves the trail as it is.
void ExtendDirectoryTrail(LPCSTR path, DirectoryBlock *block);

// Links the builder's new `block` to the record of its directory `path` on the current drive: the
// record's pChildBlock/wChildId name the block, the block's pParent/wParentId name the record's
// block. For the drive's root the block gets no parent. Does nothing when the directory's record
// is not in the map. The path is looked up with WalkScanDirectory, and the linked directory put on
// the trail.
void LinkBlockToPath(DirectoryBlock *block, LPCSTR path);

// Writes the full path of the record at (block, entry) to `buffer` (300 bytes): "X:\", the
// directories down from the root and the record's name, each spelled as stored. With entry none
// it is the path of the block's own directory ending in a backslash ("X:\" for a root block).
// A root block that no drive record holds gives the path without its "X:\". Refuses rather than
// truncates: a path of more than 299 characters leaves `buffer` empty and returns 0 (a cut path
// would name another file), as does block none; 1 otherwise.
BOOL BuildFullPath(LPSTR buffer, const DirectoryBlock *block, const EntryRecord *entry);
