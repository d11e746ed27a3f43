// The state that building and synchronising the map share while a scan runs: the block that
// records are being added to, its allocated size, and the client's callbacks.
//
// Format limits. A map file stores a drive's block count and a block's record count in 16 bits, so
// a scan that would make a drive's 65,536th block or a directory's 65,536th record cannot end in a
// file that loads right. It stops there instead (gScanOverLimit set, the walk stopped) and the scan
// fails with DRIVEMAP_WRITE_FAILED: nothing is saved and the previous map file stays. Leaving the
// excess out would save a map that silently lacks files, and with them the references of the
// executables among them.
#pragma once

#include "pwdvmp32.h"
#include "store/module_state.h"

#define SCAN_BLOCK_STEP 16384u  // a new block's size, and each growth
#define SCAN_MAX_DRIVE_BLOCKS 0xFFFFu
#define SCAN_MAX_BLOCK_ENTRIES 0xFFFFu
#define SCAN_WALK_FLAGS (WALK_RECURSE | WALK_DIRS_AS_FILES | WALK_KEEP_CASE)

// The scan's share of the state table: gScanBlock, gScanBlockSize, gClientFileCallback,
// gClientDirCallback, gScanOverLimit and the synchroniser's gMatchCursor.

// Starts a scan: the client's callbacks stored, no current block, nothing over a limit, the stop
// flag 0.
void BeginScan(FileCallback fileCallback, DirCallback dirCallback);

// Walks the drive whose root is `root` with the scan's callbacks; the context goes to the client
// callbacks as context and as user value.
void WalkDrive(void *context, LPCSTR root, FileCallback fileCallback, DirCallback dirCallback);

// The error code of a scan that ended: 0 when it ran through, otherwise 7 (stopped), 5 (stopped at
// a format limit) or 3 (a directory could not be listed for want of memory).
DWORD ScanEndCode();
