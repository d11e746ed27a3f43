// Where the library would find the module a stored reference names. The map keeps a reference as
// the module's lower-case base name ("helper" for HELPER.DLL), so a module is any file of that
// base name with a module's extension. The places are tried in DriveMap_SearchForFile's order:
// the executable's own directory, the Windows directory, the System directory, the directories
// of PATH; at each place the extensions in kModuleExtensions' order.
#pragma once

#include "library_exports.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace drivemap {

// The extensions a module file may carry, the common ones first.
inline constexpr const char *kModuleExtensions[] = {"dll", "exe", "drv", "ocx", "cpl", "sys", "vxd", "386",
                                                    "acm", "ax",  "ime", "tsk", "scr", "fon", "fot", "mui"};

class ModuleFinder {
public:
    explicit ModuleFinder(const LibraryExports &library) : library_(library) {}

    // The full Windows path of the file that `moduleName` would load for an executable in
    // `executableDirectory` (a Windows path, with or without its final backslash), or nothing.
    std::optional<std::string> Find(const std::string &executableDirectory, std::string_view moduleName);

private:
    std::optional<std::string> Search(const std::string &baseName, const char *directory, DWORD flags) const;

    const LibraryExports &library_;
    // The Windows, System and PATH directories are the same for every executable.
    std::map<std::string, std::optional<std::string>> shared_;
};

}  // namespace drivemap
