#include "store/module_state.h"

#include "mapfile/map_file.h"
#include "scan/scan_state.h"
#include "store/add_entry.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"

#include <cstring>

DWORD gCriticalFlag = 0;
DWORD gErrorCode = 0;
DWORD gDirtyFlag = 0;
DWORD gClientCount = 0;
DWORD gLoadedFlag = 0;
DWORD gOperationMode = 0;
HINSTANCE gModuleInstance = nullptr;
CHAR gWindowsDirectory[PATH_BUFFER_SIZE] = {};
CHAR gSystemDirectory[PATH_BUFFER_SIZE] = {};

DriveTable gDriveTable = {};
DWORD gNextBlockId = 0;
DriveRecord *gCurrentDrive = nullptr;
DirectoryBlock *gLastBlock = nullptr;
DWORD gShrinkPending = 0;

DWORD SetCritical(DWORD value) {
    const DWORD previous = gCriticalFlag;
    gCriticalFlag = value;
    return previous;
}

// The state other modules keep for the map while it exists: the reference buffer, the map file
// handle, the builder's and synchroniser's cursors, the reference query's and the extension
// search's states. Each module that owns such state frees and zeroes it here, and only here, so
// that a release leaves the library as freshly loaded. Called before the blocks are freed; the
// never-scanned list is not map state and stays.
static void ReleaseOperationState() {
    CloseMapFile();
    FreeReferenceBuffer();
    gScanBlock = nullptr;
}

void ReleaseMap() {
    const DWORD keptMode = gOperationMode;
    const DWORD keptCritical = SetCritical(1);
    gOperationMode = MODE_FREE;

    ReleaseOperationState();

    // FreeBlockTree counts blocks down on gCurrentDrive, so each drive is made current while its
    // tree goes. Without unlinking: the chain is discarded as a whole below.
    const DWORD count = gDriveTable.dwCount < 26 ? gDriveTable.dwCount : 26;
    for (DWORD i = 0; i < count; ++i) {
        DriveRecord *drive = &gDriveTable.records[i];
        DirectoryBlock *root = GetDriveRoot(drive);
        if (root == nullptr) continue;
        gCurrentDrive = drive;
        FreeBlockTree(root, /*unlink=*/FALSE);
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
