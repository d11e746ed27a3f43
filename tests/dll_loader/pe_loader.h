// A small loader of PE32 DLLs for the i386 tests: it loads PWDVMP32.DLL itself into the 32-bit
// Linux test process, as LoadLibrary would on Windows, so that the tests run the shipped DLL.
//
//   1. maps the headers and sections at their relative addresses and applies the base relocations
//      (pe_image.cpp);
//   2. binds every import by name (import_bindings.cpp): KERNEL32 and USER32 to our Win32 host
//      layer, msvcrt to the C library, the C runtime start-up's few other needs to the loader's own
//      small functions or to stubs that abort naming themselves; an import bound to nothing, or
//      imported by ordinal, refuses the DLL;
//   3. points fs at a thread environment block (thread_block.cpp), gives the implicit TLS template
//      its slot, then calls the TLS callbacks and the entry point with DLL_PROCESS_ATTACH.
//
// FreeWindowsDll calls them with DLL_PROCESS_DETACH and unmaps the image. Exports are found by
// name, decorated as the export table holds them ("_DriveMap_GetError@0"), or by ordinal, as
// GetProcAddress finds them. One thread calls the DLL; DLL_THREAD_ATTACH is never sent.
#pragma once

#include "dll_loader/pe_image.h"

#include <string>
#include <vector>

struct LoadedDll {
    PeImage image;
    std::vector<uint8_t> tlsData;  // this thread's copy of the implicit TLS template
};

// nullptr, with the reason in `error`, when the DLL cannot be mapped or bound, fs cannot be set up
// or its entry point refuses the attach; nothing of it stays then.
[[nodiscard]] LoadedDll *LoadWindowsDll(const std::string &path, std::string *error);
// `name` as GetProcAddress takes it: an exported name, or an ordinal below 0x10000 cast to a
// pointer. nullptr when the DLL exports no such thing or forwards it to another DLL.
void *GetWindowsDllProc(const LoadedDll *dll, const char *name);
// The entry point's answer to DLL_PROCESS_DETACH (the image goes either way).
int FreeWindowsDll(LoadedDll *dll);
