// drivemap refs: the executables that use a module, from DriveMap_GetEntryReferences, and the scope
// the library searched, which depends on the module's directory.
#include "query_commands.h"

#include "map_loading.h"
#include "text_output.h"

namespace drivemap {
namespace {

// The result block's capacity: a count equal to it means the library stopped there.
DWORD ResultCapacity(const ReferenceResultBlock *block) {
    const SIZE_T cbBlock = GlobalSize(GlobalHandle(block));
    return cbBlock < sizeof(WORD) ? 0 : static_cast<DWORD>((cbBlock - sizeof(WORD)) / sizeof(EntryPosition));
}

// Directories compared as the library compares them: case-insensitively (the platform's upper
// case), a trailing backslash aside.
bool SameDirectory(std::string a, std::string b) {
    for (std::string *text : {&a, &b})
        if (!text->empty() && text->back() == '\\') text->pop_back();
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Why a module in `directory` is shared by the whole map, or "" when it is private to its
// directory.
std::string SharedBecause(const MachineConfig &machine, const std::string &directory) {
    if (SameDirectory(directory, machine.windowsDir)) return "is the Windows directory";
    if (SameDirectory(directory, machine.systemDir)) return "is the System directory";
    for (size_t start = 0; start <= machine.path.size();) {
        size_t end = machine.path.find(';', start);
        if (end == std::string::npos) end = machine.path.size();
        const std::string item = machine.path.substr(start, end - start);
        if (!item.empty() && SameDirectory(directory, item)) return "is a PATH directory";
        start = end + 1;
    }
    return std::string();
}

}  // namespace

int RunRefs(CommandContext &context, const std::string &argument) {
    const auto path = PathArgument(context, argument);
    if (!path) return kExitUsage;
    const LibraryExports &library = context.library;
    EntryPosition position;
    if (!LookUpArgument(context, argument, *path, position)) return kExitLibraryError;
    RecordView view;
    if (!ReadPositionRecord(position, view) || !view.isFile) return Fail(argument + ": not a file");
    const std::string fullPath = FullPathOf(library, position);
    const std::string directory = ParentDirectory(fullPath);

    const std::string because = SharedBecause(context.machine, directory);
    const bool mapWide = !because.empty();
    std::string shadowedBy;
    if (mapWide) {
        PrintMessage("searched the whole map: " + directory + " " + because);
        // Of copies in the shared places, the one found first is the one loaded.
        char first[512] = "";
        const std::string name = fullPath.substr(fullPath.rfind('\\') + 1);
        if (library.SearchForFile(first, name.c_str(), nullptr, FIND_WINDOWS_DIR | FIND_SYSTEM_DIR | FIND_PATH_DIRS) &&
            lstrcmpiA(first, fullPath.c_str()) != 0) {
            shadowedBy = MapSpelling(library, first);
            PrintMessage(shadowedBy + " is found before it: this copy is used by nobody");
        }
    } else {
        PrintMessage("searched " + directory + (directory.back() == '\\' ? "" : "\\") +
                     " only: the module's directory is neither the Windows nor the System directory nor on PATH");
    }

    ReferenceResultBlock *block = nullptr;
    if (!library.GetEntryReferences(0, path->c_str(), &position, &block, 0))
        return ReportLibraryError(library.GetError());

    ResultWriter &out = context.out;
    nlohmann::json users = nlohmann::json::array();
    DWORD cUsers = 0;
    bool mayBeMore = false;
    if (block != nullptr) {
        const WORD cPairs = LoadField<WORD>(&block->wCount);
        mayBeMore = cPairs >= ResultCapacity(block);
        const BYTE *pairs = reinterpret_cast<const BYTE *>(block) + offsetof(ReferenceResultBlock, aPositions);
        EntryPosition previous{};
        for (WORD i = 0; i < cPairs; ++i) {
            const EntryPosition pair = LoadField<EntryPosition>(pairs + i * sizeof(EntryPosition));
            // A record that names the module twice comes twice, one pair after the other.
            if (i > 0 && pair.pBlock == previous.pBlock && pair.pEntry == previous.pEntry) continue;
            previous = pair;
            const std::string user = FullPathOf(library, pair);
            if (user.empty()) continue;
            ++cUsers;
            if (out.Json())
                users.push_back(out.PathObject(user));
            else
                out.PathResult(user);
        }
        if (mayBeMore)
            PrintMessage("the library's result holds at most " + std::to_string(cPairs) +
                         " references and is full: there may be more executables");
        FreeLockedGlobal(block);
    }

    if (out.Json()) {
        nlohmann::json document = nlohmann::json::object();
        out.AddPath(document, fullPath);
        document["scope"] = mapWide ? "map" : "directory";
        out.AddPath(document, directory, "directory");
        if (shadowedBy.empty())
            document["shadowedBy"] = nullptr;
        else
            out.AddPath(document, shadowedBy, "shadowedBy");
        document["usedBy"] = users;
        document["mayBeMore"] = mayBeMore;
        out.PrintJson(document);
    }
    return cUsers > 0 ? kExitFound : kExitNothingFound;
}

}  // namespace drivemap
