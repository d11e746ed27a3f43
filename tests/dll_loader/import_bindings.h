// What the test loader writes into a DLL's import address table. KERNEL32 and USER32 functions
// come from our Win32 host layer (stdcall on i386, as on Windows); msvcrt's memory and string
// functions from the C library (cdecl on both). The MinGW-w64 C runtime's DLL start-up imports a
// few more that the host layer does not emulate: the loader gives those small implementations of
// its own, or binds them to stubs that print the function's name and abort, for functions that
// start-up reaches only on a path these tests never take. Anything else is not bound, and the DLL
// is not loaded: a new import must be added here on purpose.
#pragma once

#include <string>

// The address to bind `function` of `library` (lower-case DLL name, e.g. "kernel32.dll") to, or
// nullptr when nothing binds it.
void *BindImport(const std::string &library, const std::string &function);
