// The query commands that list paths of the map: where (SearchAllDirForMyFiles), ls
// (DriveMap_SearchDirectory) and ext (DriveMap_GetFilesWithExtension). Text results are written as
// they come; JSON is collected into one document.
#include "query_commands.h"

#include "map_loading.h"
#include "text_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace drivemap {
namespace {

// ---- where ----

// The search's table: names in global memory (the table's pointer fields are 32 bits wide), and
// the lists the library links to it. Both are released with the table.
class NameQueries {
public:
    explicit NameQueries(const std::vector<std::string> &names) : queries_(names.size(), MyFileQuery{}) {
        for (size_t i = 0; i < names.size(); ++i) {
            HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, names[i].size() + 1);
            char *text = handle != nullptr ? static_cast<char *>(GlobalLock(handle)) : nullptr;
            if (text == nullptr) {
                if (handle != nullptr) GlobalFree(handle);
                allocated_ = false;
                return;
            }
            std::memcpy(text, names[i].c_str(), names[i].size() + 1);
            const PTR32 field = static_cast<PTR32>(reinterpret_cast<uintptr_t>(text));
            std::memcpy(&queries_[i].pszName, &field, sizeof field);
        }
    }
    ~NameQueries() {
        if (deleteLists_) deleteLists_(queries_.data(), static_cast<LONG>(queries_.size()));
        for (const MyFileQuery &query : queries_) FreeLockedGlobal(LoadPtr32(&query.pszName));
    }
    NameQueries(const NameQueries &) = delete;
    NameQueries &operator=(const NameQueries &) = delete;

    bool Allocated() const { return allocated_; }
    bool Search(const LibraryExports &library) {
        deleteLists_ = library.DeleteAllocatedMemory;
        return library.SearchAllDirForMyFiles(queries_.data(), static_cast<LONG>(queries_.size())) != 0;
    }
    // The directories (each ending in a backslash) that hold query i's name, in the order found.
    std::vector<std::string> Directories(size_t i) const {
        std::vector<std::string> directories;
        for (const BYTE *node = LoadPtr32(&queries_[i].pFound); node != nullptr;
             node = LoadPtr32(node + offsetof(MyFileFound, pNextFound)))
            directories.emplace_back(
                reinterpret_cast<const char *>(LoadPtr32(node + offsetof(MyFileFound, pszDirectory))));
        std::reverse(directories.begin(), directories.end());  // each list is linked newest first
        return directories;
    }

private:
    std::vector<MyFileQuery> queries_;
    bool allocated_ = true;
    void(WINAPI *deleteLists_)(MyFileQuery *, LONG) = nullptr;
};

// ---- ls ----

struct Listing {
    ResultWriter &out;
    bool pathsOnly;  // -0: the paths alone, for xargs -0
    nlohmann::json entries = nlohmann::json::array();
    size_t cEntries = 0;
    bool failed = false;
};

// The walk hands each record where a disk walk would hand a FIND_DATA.
int WINAPI ListEntry(void *context, char *path, FIND_DATA *findData, LONG) {
    Listing &listing = *static_cast<Listing *>(context);
    const BYTE *record = reinterpret_cast<const BYTE *>(findData);
    RecordView view;
    if (!ReadRecord(record, LoadField<WORD>(record + offsetof(EntryRecord, wLength)), view)) return 1;
    try {
        ++listing.cEntries;
        ResultWriter &out = listing.out;
        if (out.Json()) {
            nlohmann::json entry = out.PathObject(path);
            entry["kind"] = view.isFile ? "file" : "directory";
            if (view.isFile) {
                entry["size"] = view.dwSize;
                const std::string stamp = DosStampText(view.wWriteDate, view.wWriteTime);
                entry["lastWrite"] = stamp == "-" ? nlohmann::json(nullptr) : nlohmann::json(stamp);
            }
            listing.entries.push_back(entry);
        } else if (listing.pathsOnly) {
            out.PathResult(path);
        } else {
            char columns[64];
            std::snprintf(columns, sizeof columns, "%10s  %-19s  ",
                          view.isFile ? out.Size(view.dwSize).c_str() : "<DIR>",
                          view.isFile ? DosStampText(view.wWriteDate, view.wWriteTime).c_str() : "-");
            out.Result(columns + out.Shown(path));
        }
        return 1;
    } catch (const std::exception &) {
        listing.failed = true;  // out of memory: stop the walk, not unwind through the library
        return 0;
    }
}

}  // namespace

int RunWhere(CommandContext &context, const std::vector<std::string> &names) {
    for (const std::string &name : names)
        if (!CheckNameArgument(name)) return kExitUsage;
    NameQueries queries(names);
    if (!queries.Allocated()) return Fail("out of memory");
    const bool complete = queries.Search(context.library);
    ResultWriter &out = context.out;
    nlohmann::json perName = nlohmann::json::array();
    size_t cFound = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        nlohmann::json paths = nlohmann::json::array();
        for (const std::string &directory : queries.Directories(i)) {
            // The name as the map spells it, which may differ in case from the query.
            const std::string path = MapSpelling(context.library, directory + names[i]);
            ++cFound;
            if (out.Json())
                paths.push_back(out.PathObject(path));
            else
                out.PathResult(path);
        }
        if (out.Json()) perName.push_back({{"name", Cp1252ToUtf8(names[i])}, {"paths", paths}});
    }
    if (out.Json()) out.PrintJson({{"names", perName}, {"complete", complete}});
    if (!complete) return Fail("memory ran out during the search: the paths above are not all there are");
    return cFound > 0 ? kExitFound : kExitNothingFound;
}

int RunLs(CommandContext &context, const std::string &argument, bool recursive) {
    const auto path = PathArgument(context, argument);
    if (!path) return kExitUsage;
    EntryPosition position;
    if (!LookUpArgument(context, argument, *path, position)) return kExitLibraryError;
    RecordView view;
    if (ReadPositionRecord(position, view) && view.isFile) return Fail(argument + ": not a directory");
    const std::string directory = FullPathOf(context.library, position);

    Listing listing{context.out, context.options.output.null};
    const DWORD flags = WALK_DIRS_AS_FILES | (recursive ? WALK_RECURSE : 0);
    context.library.SearchDirectory(&listing, directory.c_str(), "*.*", flags, ListEntry, nullptr, 0);
    if (listing.failed) throw std::bad_alloc();
    if (context.out.Json()) {
        nlohmann::json document = nlohmann::json::object();
        context.out.AddPath(document, directory);
        document["recursive"] = recursive;
        document["entries"] = std::move(listing.entries);
        context.out.PrintJson(document);
    }
    return listing.cEntries > 0 ? kExitFound : kExitNothingFound;
}

int RunExt(CommandContext &context, const std::string &extension) {
    const std::string bare = !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
    char *list = nullptr;
    if (!context.library.GetFilesWithExtension(bare.c_str(), &list))
        return Fail("memory ran out: the library could not hold the list of files");
    ResultWriter &out = context.out;
    nlohmann::json paths = nlohmann::json::array();
    size_t cPaths = 0;
    try {
        for (const char *path = list; path != nullptr && *path != '\0'; path += std::strlen(path) + 1) {
            ++cPaths;
            if (out.Json())
                paths.push_back(out.PathObject(path));
            else
                out.PathResult(path);
        }
    } catch (...) {
        FreeLockedGlobal(list);
        throw;
    }
    FreeLockedGlobal(list);
    if (out.Json()) out.PrintJson({{"extension", Cp1252ToUtf8(bare)}, {"paths", paths}});
    return cPaths > 0 ? kExitFound : kExitNothingFound;
}

}  // namespace drivemap
