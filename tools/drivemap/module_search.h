// Where the library would find the module a stored reference names. The map keeps a reference as
// the module's lower-case base name ("helper" for HELPER.DLL), so a module is any file of that
// base name with a module's extension. The places are tried in DriveMap_SearchForFile's order:
// the executable's own directory, the Windows directory, the System directory, the directories
// of PATH; at each place the extensions in kModuleExtensions' order. A place counts only when the
// record found there has the name sought: the library's lookup stops at a file record met on the
// way (a symbolic link to a directory is mapped as a file), which holds no module.
#pragma once

#include "library_exports.h"
#include "machine_config.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drivemap {

// The extensions a module file may carry, the common ones first.
inline constexpr const char *kModuleExtensions[] = {"dll", "exe", "drv", "ocx", "cpl", "sys", "vxd", "386",
                                                    "acm", "ax",  "ime", "tsk", "scr", "fon", "fot", "mui"};

class ModuleFinder {
public:
    // The places after an executable's own directory: the machine's Windows and System directories
    // and its PATH (semicolon-separated), as the library reads them when it is loaded.
    ModuleFinder(const LibraryExports &library, const MachineConfig &machine);

    // The full Windows path of the file that `moduleName` would load for an executable in
    // `executableDirectory` (a Windows path, with or without its final backslash), or nothing.
    std::optional<std::string> Find(const std::string &executableDirectory, std::string_view moduleName);

private:
    std::optional<std::string> Search(const std::string &baseName, const std::string &directory) const;

    const LibraryExports &library_;
    std::vector<std::string> sharedPlaces_;
    // The Windows, System and PATH directories are the same for every executable.
    std::map<std::string, std::optional<std::string>> shared_;
};

}  // namespace drivemap
