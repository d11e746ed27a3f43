#include "module_search.h"

namespace drivemap {

std::optional<std::string> ModuleFinder::Search(const std::string &baseName, const char *directory, DWORD flags) const {
    char result[MAX_PATH + 40] = "";
    for (const char *extension : kModuleExtensions) {
        const std::string name = baseName + "." + extension;
        if (library_.SearchForFile(result, name.c_str(), directory, flags)) return std::string(result);
    }
    return std::nullopt;
}

std::optional<std::string> ModuleFinder::Find(const std::string &executableDirectory, std::string_view moduleName) {
    const std::string baseName(moduleName);
    if (auto own = Search(baseName, executableDirectory.c_str(), FIND_GIVEN_DIR)) return own;
    auto cached = shared_.find(baseName);
    if (cached != shared_.end()) return cached->second;
    std::optional<std::string> found;
    for (DWORD flags : {FIND_WINDOWS_DIR, FIND_SYSTEM_DIR, FIND_PATH_DIRS})
        if ((found = Search(baseName, nullptr, flags))) break;
    shared_.emplace(baseName, found);
    return found;
}

}  // namespace drivemap
