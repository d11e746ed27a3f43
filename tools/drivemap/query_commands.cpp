// drivemap's questions to the saved map: a record's fields, where an executable's modules load
// from, a search by name; the commands that list many paths are in query_lists.cpp and
// query_references.cpp.
#include "query_commands.h"

#include "map_loading.h"
#include "module_search.h"
#include "pwdvmp32_errors.h"
#include "text_output.h"

#include <cstdio>

namespace drivemap {

std::optional<std::string> PathArgument(const CommandContext &context, const std::string &argument) {
    std::string error;
    std::optional<std::string> path = WindowsPathArgument(argument, context.machine, error);
    if (!path) PrintMessage(error);
    return path;
}

bool CheckNameArgument(const std::string &name) {
    if (name.find_first_of("\\/:") == std::string::npos) return true;
    PrintMessage(name + " is a file name, not a path");
    return false;
}

bool LookUpArgument(const CommandContext &context, const std::string &argument, const std::string &path,
                    EntryPosition &position) {
    position = EntryPosition{};
    if (context.library.GetEntry(0, path.c_str(), &position)) return true;
    const DWORD code = context.library.GetError();
    PrintMessage(argument + ": error " + std::to_string(code) + ": " + DriveMapErrorText(code));
    return false;
}

std::string FullPathOf(const LibraryExports &library, const EntryPosition &position) {
    char buffer[512] = "";  // the library writes at most 300 bytes
    return library.GetFullPath(buffer, &position) ? buffer : "";
}

std::string MapSpelling(const LibraryExports &library, const std::string &path) {
    EntryPosition position{};
    if (!library.GetEntry(0, path.c_str(), &position)) return path;
    const std::string stored = FullPathOf(library, position);
    return stored.empty() ? path : stored;
}

std::string ParentDirectory(const std::string &path) {
    const size_t last = path.rfind('\\');
    if (last == std::string::npos) return std::string();
    return path.substr(0, last == 2 && path[1] == ':' ? 3 : last);
}

void FreeLockedGlobal(const void *memory) {
    if (memory == nullptr) return;
    HGLOBAL handle = GlobalHandle(memory);
    GlobalUnlock(handle);
    GlobalFree(handle);
}

namespace {

// ---- lookup ----

nlohmann::json StampJson(WORD date, WORD time) {
    const std::string text = DosStampText(date, time);
    return text == "-" ? nlohmann::json(nullptr) : nlohmann::json(text);
}

const char *ScannedAs(const RecordView &view) {
    if (!(view.wFlags & ENTRY_SCANNED)) return nullptr;
    return (view.wFlags & ENTRY_PE) ? "PE" : "NE";
}

nlohmann::json RecordJson(const ResultWriter &out, const std::string &path, const RecordView *view) {
    nlohmann::json entry = nlohmann::json::object();
    out.AddPath(entry, path);
    entry["kind"] = view == nullptr ? "driveRoot" : view->isFile ? "file" : "directory";
    if (view == nullptr || !view->isFile) return entry;
    entry["size"] = view->dwSize;
    entry["lastWrite"] = StampJson(view->wWriteDate, view->wWriteTime);
    entry["lastUse"] = StampJson(view->wUsedDate, view->wUsedTime);
    entry["usageCount"] = view->wUsageCount;
    const char *scanned = ScannedAs(*view);
    entry["scanned"] = scanned ? nlohmann::json(scanned) : nlohmann::json(nullptr);
    nlohmann::json references = nlohmann::json::array();
    for (std::string_view name : view->references) references.push_back(Cp1252ToUtf8(name));
    entry["references"] = references;
    return entry;
}

void PrintLine(const std::string &text) {
    const std::string line = Printable(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintRecordText(const ResultWriter &out, const std::string &path, const RecordView *view) {
    PrintLine(out.Shown(path));
    if (view == nullptr || !view->isFile) {
        PrintLine(std::string("  kind:        ") + (view == nullptr ? "drive root" : "directory"));
        return;
    }
    const char *scanned = ScannedAs(*view);
    std::string references;
    for (std::string_view name : view->references) references += (references.empty() ? "" : ", ") + std::string(name);
    PrintLine("  kind:        file");
    PrintLine("  size:        " + out.Size(view->dwSize));
    PrintLine("  last write:  " + DosStampText(view->wWriteDate, view->wWriteTime));
    PrintLine("  last use:    " + DosStampText(view->wUsedDate, view->wUsedTime));
    PrintLine("  usage count: " + std::to_string(view->wUsageCount));
    PrintLine(std::string("  scanned:     ") + (scanned ? scanned : "no"));
    PrintLine("  references:  " + (references.empty() ? std::string("-") : references));
}

}  // namespace

int RunLookup(CommandContext &context, const std::vector<std::string> &arguments) {
    std::vector<std::string> paths;
    for (const std::string &argument : arguments) {
        auto path = PathArgument(context, argument);
        if (!path) return kExitUsage;
        paths.push_back(*path);
    }
    ResultWriter &out = context.out;
    nlohmann::json entries = nlohmann::json::array(), missing = nlohmann::json::array();
    bool printedOne = false;
    for (size_t i = 0; i < paths.size(); ++i) {
        EntryPosition position;
        if (!LookUpArgument(context, arguments[i], paths[i], position)) {
            const DWORD code = context.library.GetError();
            nlohmann::json entry = nlohmann::json::object();
            out.AddPath(entry, paths[i]);
            entry["error"] = code;
            entry["message"] = DriveMapErrorText(code);
            missing.push_back(entry);
            continue;
        }
        RecordView view;
        const bool hasRecord = ReadPositionRecord(position, view);
        const std::string fullPath = FullPathOf(context.library, position);
        if (out.Json()) {
            entries.push_back(RecordJson(out, fullPath, hasRecord ? &view : nullptr));
            continue;
        }
        if (printedOne) PrintLine("");
        PrintRecordText(out, fullPath, hasRecord ? &view : nullptr);
        printedOne = true;
    }
    if (out.Json()) out.PrintJson({{"entries", entries}, {"notFound", missing}});
    return missing.empty() ? kExitFound : kExitNothingFound;
}

// ---- imports ----

int RunImports(CommandContext &context, const std::string &argument) {
    const auto path = PathArgument(context, argument);
    if (!path) return kExitUsage;
    EntryPosition position;
    if (!LookUpArgument(context, argument, *path, position)) return kExitLibraryError;
    RecordView view;
    if (!ReadPositionRecord(position, view) || !view.isFile) return Fail(argument + ": not a file");
    const std::string fullPath = FullPathOf(context.library, position);
    const std::string directory = ParentDirectory(fullPath);
    ResultWriter &out = context.out;
    const char *scanned = ScannedAs(view);
    if (!scanned)
        PrintMessage(argument + ": not scanned as an NE or PE executable: the map holds no module references for it");
    else if (view.references.empty())
        PrintMessage(argument + ": references no modules (the core system modules are not recorded)");

    ModuleFinder finder(context.library, context.machine);
    nlohmann::json imports = nlohmann::json::array();
    for (std::string_view name : view.references) {
        std::optional<std::string> found = finder.Find(directory, name);
        if (found) found = MapSpelling(context.library, *found);
        if (!out.Json()) {
            out.ResultFields({std::string(name), found ? out.Shown(*found) : "not found"});
            continue;
        }
        nlohmann::json module = {{"module", Cp1252ToUtf8(name)}};
        if (found)
            out.AddPath(module, *found);
        else
            module["path"] = nullptr;
        imports.push_back(module);
    }
    if (out.Json()) {
        nlohmann::json document = nlohmann::json::object();
        out.AddPath(document, fullPath);
        document["scanned"] = scanned ? nlohmann::json(scanned) : nlohmann::json(nullptr);
        document["imports"] = imports;
        out.PrintJson(document);
    }
    return view.references.empty() ? kExitNothingFound : kExitFound;
}

// ---- find ----

int RunFind(CommandContext &context, const std::string &name, const std::string &directoryArgument) {
    if (!CheckNameArgument(name)) return kExitUsage;
    DWORD flags = FIND_WINDOWS_DIR | FIND_SYSTEM_DIR | FIND_PATH_DIRS;
    std::string directory;
    if (!directoryArgument.empty()) {
        const auto path = PathArgument(context, directoryArgument);
        if (!path) return kExitUsage;
        directory = *path;
        flags |= FIND_GIVEN_DIR;
    }
    char result[512] = "";  // the library writes at most 300 bytes
    const bool found =
        context.library.SearchForFile(result, name.c_str(), directory.empty() ? nullptr : directory.c_str(), flags);
    const std::string path = found ? MapSpelling(context.library, result) : std::string();
    ResultWriter &out = context.out;
    if (out.Json()) {
        nlohmann::json document = {{"name", Cp1252ToUtf8(name)}};
        if (found)
            out.AddPath(document, path);
        else
            document["path"] = nullptr;
        out.PrintJson(document);
    } else if (found) {
        out.PathResult(path);
    } else {
        PrintMessage(name + " is in none of " + (directory.empty() ? "" : directory + ", ") +
                     "the Windows directory, the System directory or the PATH directories");
    }
    return found ? kExitFound : kExitNothingFound;
}

void AddQueryCommands(CLI::App &app, Options &, CommandTable &table) {
    static struct {
        std::vector<std::string> paths, names;
        std::string path, name, directory, extension;
        bool recursive = false;
    } arguments;

    CLI::App *lookup = app.add_subcommand("lookup", "print the map's record of each path");
    lookup->add_option("PATH", arguments.paths, "a file or directory")->required();
    table.push_back(
        {lookup, CommandAccess::kReadsMap, [](CommandContext &c) { return RunLookup(c, arguments.paths); }});

    CLI::App *refs = app.add_subcommand("refs", "list the executables that use the module at PATH");
    refs->add_option("PATH", arguments.path, "the module")->required();
    table.push_back({refs, CommandAccess::kReadsMap, [](CommandContext &c) { return RunRefs(c, arguments.path); }});

    CLI::App *imports =
        app.add_subcommand("imports", "list the modules an executable references and where each would load from");
    imports->add_option("PATH", arguments.path, "the executable")->required();
    table.push_back(
        {imports, CommandAccess::kReadsMap, [](CommandContext &c) { return RunImports(c, arguments.path); }});

    CLI::App *find =
        app.add_subcommand("find", "find NAME in the Windows directory, the System directory and the PATH directories");
    find->add_option("NAME", arguments.name, "a file name")->required();
    find->add_option("--dir", arguments.directory, "look in this directory first");
    table.push_back({find, CommandAccess::kReadsMap,
                     [](CommandContext &c) { return RunFind(c, arguments.name, arguments.directory); }});

    CLI::App *where = app.add_subcommand("where", "list every file or directory of the map named NAME");
    where->add_option("NAME", arguments.names, "a file or directory name")->required();
    table.push_back({where, CommandAccess::kReadsMap, [](CommandContext &c) { return RunWhere(c, arguments.names); }});

    CLI::App *ls = app.add_subcommand("ls", "list a mapped directory: size, last write and path of each entry");
    ls->add_option("PATH", arguments.path, "the directory")->required();
    ls->add_flag("-r,--recursive", arguments.recursive, "list the subdirectories' entries too");
    table.push_back({ls, CommandAccess::kReadsMap,
                     [](CommandContext &c) { return RunLs(c, arguments.path, arguments.recursive); }});

    CLI::App *ext = app.add_subcommand("ext", "list every mapped file with the extension EXT");
    ext->add_option("EXT", arguments.extension, "the extension, with or without its dot")->required();
    table.push_back({ext, CommandAccess::kReadsMap, [](CommandContext &c) { return RunExt(c, arguments.extension); }});
}

}  // namespace drivemap
