// The frame of the exports that work on the map: the critical flag, the operation mode and the
// error code.
//
//     BOOL WINAPI DriveMap_DeleteEntry(DWORD, LPCSTR path) {
//         if (RefusedWhileCritical()) return FALSE;          // map-changing exports only
//         ExportFrame frame(MODE_DELETE, FRAME_RESTORES_CRITICAL);
//         if (...) return frame.Fail(DRIVEMAP_NOT_FOUND);
//         return TRUE;                                       // code 0 stored at the end
//     }
//
// The frame sets the critical flag (and the mode) when it is made; when it goes out of scope it
// stores dwErrorCode, then clears or restores the flag. An export refused before its frame is
// made stores no code.
//
// Nested calls. The long operations pump the caller's messages, so a window procedure can call an
// export while another one is half done. Two guards keep the running operation intact:
// - A frame made inside another frame (a nested call) gives the critical flag and the operation
//   mode back as they were on entry, even for an export that otherwise clears the flag: the outer
//   operation stays protected and keeps its mode (MODE_BUILD and MODE_SYNC steer block ids). At
//   top level the flag is 0 on entry, so clearing and restoring agree there.
// - The exports that replace or rebuild the whole map (DriveMap_BuildAll, DriveMap_SyncAll,
//   DriveMap_ReadAll) do not test the critical flag, but refuse when IsNestedExport(): releasing
//   the map under a running walk or save would leave it working on freed blocks.
// A critical flag set by other means (SetCritical) at top level is not nesting: those exports run.
#pragma once

#include "store/module_state.h"

#define FRAME_CLEARS_CRITICAL 0
#define FRAME_RESTORES_CRITICAL 1
#define FRAME_KEEPS_MODE 0xFFFFFFFFu  // mode argument: leave the operation mode as it is

// The map-changing exports' test, made before their frame: 1 means return 0 at once.
inline BOOL RefusedWhileCritical() { return gCriticalFlag != 0; }

// An export frame is open: the caller is a window procedure (or a callback) running inside
// another export.
inline BOOL IsNestedExport() { return gExportDepth != 0; }

struct ExportFrame {
    // Sets the critical flag and, unless FRAME_KEEPS_MODE, the operation mode. `end` is
    // FRAME_CLEARS_CRITICAL or FRAME_RESTORES_CRITICAL.
    ExportFrame(DWORD mode, DWORD end);
    ~ExportFrame();
    ExportFrame(const ExportFrame &) = delete;
    ExportFrame &operator=(const ExportFrame &) = delete;

    // Sets the operation mode after the frame's start, for an export that sets it only once its
    // arguments passed (made with FRAME_KEEPS_MODE); a nested frame still gives back the mode it
    // found.
    void SetMode(DWORD mode) {
        dwMode = mode;
        gOperationMode = mode;
    }

    // Sets the code stored at the end and returns FALSE, for `return frame.Fail(code);`.
    BOOL Fail(DWORD code) {
        dwErrorCode = code;
        return FALSE;
    }

    DWORD dwErrorCode = DRIVEMAP_OK;  // stored in gErrorCode when the frame ends
    BOOL fStoresCode = TRUE;          // clear for exports that store no code

private:
    DWORD dwEnd;
    DWORD dwMode;
    DWORD dwCriticalOnEntry;
    DWORD dwModeOnEntry;
    BOOL fNested;
};
