// The shared library's load and unload on POSIX hosts: what the Windows loader does for the DLL.
// Part of the shared library only; the unit tests link the code without it and call DllMain.
#ifndef _WIN32

#include "exports/dll_main.h"

// A symbol of this shared object stands for its instance handle, as a module's base address does
// on Windows: distinct per loaded library and stable while it stays loaded.
extern "C" void *__dso_handle;

__attribute__((constructor)) static void AttachLibrary() {
    DllMain(static_cast<HINSTANCE>(&__dso_handle), DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) static void DetachLibrary() {
    DllMain(static_cast<HINSTANCE>(&__dso_handle), DLL_PROCESS_DETACH, nullptr);
}

#endif
