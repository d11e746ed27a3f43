#include "scan/scan_state.h"

#include "scan/directory_walker.h"
#include "store/directory_blocks.h"
#include "store/map_release.h"
#include "support/message_pump.h"

#include <cstdint>

// Releasing the map drops the scans' hold on its blocks.
static void ForgetScanBlock() {
    gScanBlock = nullptr;
    gScanBlockSize = 0;
    gMatchCursor = {};
}
MAP_RELEASE_FUNCTION(ForgetScanBlock);

void BeginScan(FileCallback fileCallback, DirCallback dirCallback) {
    gClientFileCallback = fileCallback;
    gClientDirCallback = dirCallback;
    gScanBlock = nullptr;
    gScanBlockSize = 0;
    gScanOverLimit = 0;
    ForgetDirectoryTrail();
    SetStopFlag(0);
}

void WalkDrive(void *context, LPCSTR root, FileCallback fileCallback, DirCallback dirCallback) {
    // The context travels as the 32-bit user value too, as the client callbacks expect.
    const LONG userValue = static_cast<LONG>(reinterpret_cast<intptr_t>(context));
    WalkDirectoryTree(context, root, "*.*", SCAN_WALK_FLAGS, fileCallback, dirCallback, userValue);
}

DWORD ScanEndCode() {
    if (GetStopFlag() != 1) return DRIVEMAP_OK;
    if (gWalk.fOutOfMemory) return DRIVEMAP_NO_MEMORY;
    return gScanOverLimit ? DRIVEMAP_WRITE_FAILED : DRIVEMAP_STOPPED;
}
