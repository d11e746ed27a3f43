// The module's globals: one drive map per process. All start at zero when the library is loaded.
#pragma once

#include "pwdvmp32.h"
#include "support/limits.h"

// The drive table: 26 records followed by the count in use, written to the map file as it lies.
#pragma pack(push, 1)
struct DriveTable {
    DriveRecord records[26];
    DWORD dwCount;
};
#pragma pack(pop)
static_assert(sizeof(DriveTable) == 238, "drive table is 26 records and a count");

// Lifetime and frame of the exports.
extern DWORD gCriticalFlag;  // 1 while an export works on the map
extern DWORD gErrorCode;     // DRIVEMAP_* code of the last export that stores one
extern DWORD gDirtyFlag;     // the map differs from the map file
extern DWORD gClientCount;
extern DWORD gLoadedFlag;     // a map is in memory
extern DWORD gOperationMode;  // MODE_*, set at the start of the working exports
extern HINSTANCE gModuleInstance;
extern CHAR gWindowsDirectory[PATH_BUFFER_SIZE];
extern CHAR gSystemDirectory[PATH_BUFFER_SIZE];

// The map's working state.
extern DriveTable gDriveTable;
extern DWORD gNextBlockId;          // next block id to hand out; its low 16 bits are saved
extern DriveRecord *gCurrentDrive;  // the drive the running operation works on
extern DirectoryBlock *gLastBlock;  // tail of the block chain
extern DWORD gShrinkPending;        // a block may hold spare space to cut back to dwUsed

// Sets the critical flag and returns its previous value.
DWORD SetCritical(DWORD value);

// Frees the map: every block, the drive table and the working state. The critical flag, the error
// code, the client count, the instance, the directory buffers and the never-scanned list survive.
void ReleaseMap();
