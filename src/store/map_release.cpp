#include "store/map_release.h"

#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/module_state.h"
#include "store/reference_buffer.h"

#include <cstring>

BOOL RegisterMapRelease(void (*release)(void)) {
    if (gMapReleaseFunctionCount >= MAP_RELEASE_MAX_FUNCTIONS) return FALSE;
    gMapReleaseFunctions[gMapReleaseFunctionCount++] = release;
    return TRUE;
}

void ReleaseMap() {
    const DWORD keptMode = gOperationMode;
    const DWORD keptCritical = SetCritical(1);
    gOperationMode = MODE_FREE;

    for (DWORD i = 0; i < gMapReleaseFunctionCount; ++i) gMapReleaseFunctions[i]();
    FreeReferenceBuffer();

    // FreeBlockTree counts blocks down on the current drive, so each drive is made current while its
    // tree goes. Without unlinking: the chain is discarded as a whole below.
    for (DWORD i = 0; i < gDriveTable.dwCount && i < DRIVE_TABLE_SIZE; ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        if (GetDriveRoot(drive) == nullptr) continue;
        CurrentDriveScope scope(drive);
        FreeBlockTree(GetDriveRoot(drive), /*unlink=*/FALSE);
    }

    ForgetChainCaches();
    std::memset(&gDriveTable, 0, sizeof gDriveTable);
    gLoadedFlag = 0;
    gNextBlockId = 0;
    gDirtyFlag = 0;
    gCurrentDrive = nullptr;
    gLastBlock = nullptr;
    gShrinkPending = 0;

    gOperationMode = keptMode;
    SetCritical(keptCritical);
}
