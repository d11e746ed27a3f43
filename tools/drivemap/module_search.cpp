#include "module_search.h"

#include <strings.h>

namespace drivemap {

ModuleFinder::ModuleFinder(const LibraryExports &library, const MachineConfig &machine) : library_(library) {
    sharedPlaces_ = {machine.windowsDir, machine.systemDir};
    size_t start = 0;
    while (start <= machine.path.size()) {
        size_t end = machine.path.find(';', start);
        if (end == std::string::npos) end = machine.path.size();
        if (end > start) sharedPlaces_.push_back(machine.path.substr(start, end - start));
        start = end + 1;
    }
}

std::optional<std::string> ModuleFinder::Search(const std::string &baseName, const std::string &directory) const {
    char result[MAX_PATH + 40] = "";
    for (const char *extension : kModuleExtensions) {
        const std::string name = baseName + "." + extension;
        if (!library_.SearchForFile(result, name.c_str(), directory.c_str(), FIND_GIVEN_DIR)) continue;
        EntryPosition position{};
        RecordView record;
        if (library_.GetEntry(0, result, &position) && ReadPositionRecord(position, record) &&
            record.name.size() == name.size() && strncasecmp(record.name.data(), name.data(), name.size()) == 0)
            return std::string(result);
    }
    return std::nullopt;
}

std::optional<std::string> ModuleFinder::Find(const std::string &executableDirectory, std::string_view moduleName) {
    const std::string baseName(moduleName);
    if (auto own = Search(baseName, executableDirectory)) return own;
    auto cached = shared_.find(baseName);
    if (cached != shared_.end()) return cached->second;
    std::optional<std::string> found;
    for (const std::string &place : sharedPlaces_)
        if ((found = Search(baseName, place))) break;
    shared_.emplace(baseName, found);
    return found;
}

}  // namespace drivemap
