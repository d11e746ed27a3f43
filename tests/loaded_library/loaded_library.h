// The library as a client program loads it, in one of two ways: the shared library libpwdvmp32.so
// through dlopen (exports under their plain names), or, in the i386 build, PWDVMP32.DLL itself
// through the tests' PE loader (exports under their decorated names, as GetProcAddress finds them).
// Tests written against DriveMapExports run unchanged against either.
#pragma once

#include "pwdvmp32.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// One pointer per export, named as the function in pwdvmp32.h and of its type (stdcall on i386).
struct DriveMapExports {
#define DRIVE_MAP_EXPORT(name) decltype(&::name) name = nullptr;
#include "loaded_library/export_list.inc"
#undef DRIVE_MAP_EXPORT
};

class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;  // unloads: DLL_PROCESS_DETACH
    // The export of that name as the DLL's export table spells it (common/export_names.h).
    virtual void *Find(const std::string &exportedName) const = 0;
    const DriveMapExports &Exports() const { return exports_; }

protected:
    // Fills Exports() through Find; 0 with the names it missed in `error`.
    int ResolveExports(std::string *error);

private:
    DriveMapExports exports_;
};

struct LibraryKind {
    const char *name;  // for test names: "SharedObject", "WindowsDll"
    // Loads a fresh copy (DLL_PROCESS_ATTACH runs); nullptr with the reason in `error`.
    std::unique_ptr<LoadedLibrary> (*load)(std::string *error);
};

// Test parameters print as their name.
inline void PrintTo(const LibraryKind &kind, std::ostream *os) { *os << kind.name; }

// The ways this build can load the library: the shared object always, the DLL on i386 when the
// build knows where it is.
std::vector<LibraryKind> AvailableLibraryKinds();
