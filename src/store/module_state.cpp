// The definitions of every global of module_state.h, in the same order.
#include "store/module_state.h"

DWORD gCriticalFlag = 0;
DWORD gErrorCode = 0;
DWORD gDirtyFlag = 0;
DWORD gClientCount = 0;
DWORD gLoadedFlag = 0;
DWORD gOperationMode = 0;
DWORD gExportDepth = 0;
HINSTANCE gModuleInstance = nullptr;
CHAR gWindowsDirectory[PATH_BUFFER_SIZE] = {};
CHAR gSystemDirectory[PATH_BUFFER_SIZE] = {};

DriveTable gDriveTable = {};
DWORD gNextBlockId = 0;
DriveRecord *gCurrentDrive = nullptr;
DirectoryBlock *gLastBlock = nullptr;
DWORD gShrinkPending = 0;
WORD gBlockIdUse[0x10000] = {};
BOOL gBlockIdUseCounted = FALSE;
DirectoryBlock *gBeforeLastBlock = nullptr;
BOOL gBeforeLastKnown = FALSE;
LPSTR gReferenceBuffer = nullptr;
MapReleaseFunction gMapReleaseFunctions[MAP_RELEASE_MAX_FUNCTIONS] = {};
DWORD gMapReleaseFunctionCount = 0;

HFILE gMapFile = HFILE_ERROR;
PTR32 gFirstBlockWithId[0x10000] = {};

DWORD gPlatform = 0;
BOOL gPlatformKnown = FALSE;
HANDLE gVwin32Device = nullptr;

WalkState gWalk = {};

DirectoryBlock *gScanBlock = nullptr;
DWORD gScanBlockSize = 0;
FileCallback gClientFileCallback = nullptr;
DirCallback gClientDirCallback = nullptr;
DWORD gScanOverLimit = 0;
MatchCursor gMatchCursor = {};
DirectoryTrail gDirectoryTrail = {};

LPSTR gScanNameBuffer = nullptr;
BYTE *gScanHeaderBuffer = nullptr;
LookupList gNeverScanned = {nullptr, nullptr, 0};
ExtensionMemo gExtensionMemo = {};
LookupList gSystemFiles = {nullptr, nullptr, 0};
ScanRules gScanRules = {};

ReferenceQueryState gReferenceQuery = {};
ExtensionSearchState gExtensionSearch = {};

DWORD gStopFlag = 1;

DWORD SetCritical(DWORD value) {
    const DWORD previous = gCriticalFlag;
    gCriticalFlag = value;
    return previous;
}
