// The exports that read the library's state, count clients and free the map.
#include "store/export_frame.h"
#include "store/map_release.h"
#include "store/module_state.h"

extern "C" {

DWORD WINAPI DriveMap_GetCritical(void) { return gCriticalFlag; }

DWORD WINAPI DriveMap_GetDirtyFlag(void) { return gDirtyFlag; }

DWORD WINAPI DriveMap_GetError(void) { return gErrorCode; }

void WINAPI DriveMap_RegisterAsClient(void) { ++gClientCount; }

// The count goes down even while the map is critical; the release then does nothing and the map
// lives on until the next release.
void WINAPI DriveMap_UnRegisterAsClient(void) {
    if (gClientCount > 0 && --gClientCount > 0) return;
    DriveMap_FreeAll();
}

// ReleaseMap keeps the mode and the critical flag itself, so no export frame is needed.
void WINAPI DriveMap_FreeAll(void) {
    if (RefusedWhileCritical()) return;
    ReleaseMap();
}

}  // extern "C"
