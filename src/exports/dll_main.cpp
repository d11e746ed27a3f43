#include "exports/dll_main.h"

#include "references/never_scanned_list.h"
#include "references/scanning_rules.h"
#include "references/settings_lists.h"
#include "store/module_state.h"

// A directory that fails or does not fit leaves the buffer empty (the call then returns 0 or the
// size it needs and writes nothing), never a truncated path.
static void KeepDirectory(UINT(WINAPI *query)(LPSTR, UINT), CHAR (&buffer)[PATH_BUFFER_SIZE]) {
    const UINT cch = query(buffer, PATH_BUFFER_SIZE);
    if (cch == 0 || cch >= PATH_BUFFER_SIZE) buffer[0] = '\0';
}

// Loading keeps what later calls need from the machine; no map exists until a client reads or
// builds one. Unloading does not free the map: that is the clients' FreeAll or last
// UnRegisterAsClient.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        gModuleInstance = instance;
        KeepDirectory(GetWindowsDirectoryA, gWindowsDirectory);
        KeepDirectory(GetSystemDirectoryA, gSystemDirectory);
        LoadNeverScannedList();
        LoadScanningRules();
        break;
    case DLL_PROCESS_DETACH:
        FreeNeverScannedList();
        FreeSystemFilesList();
        ResetScanningRules();
        break;
    default: break;
    }
    return TRUE;
}
