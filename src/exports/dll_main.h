// The library's entry point, called by the loader: by Windows for the DLL, by the POSIX loader
// hooks for the shared library.
#pragma once

#include "win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
