// drivemap's commands that look at the map as a whole: what takes the most room (du), which modules
// nothing uses (unused), and which executables lack a module they load (missing).
#include "command_context.h"
#include "map_loading.h"
#include "map_usage.h"
#include "module_search.h"
#include "module_usage.h"
#include "text_output.h"

#include <algorithm>

namespace drivemap {
namespace {

struct AnalysisArguments {
    std::string duPath;
    size_t top = 20;
    std::string extensions = kDefaultModuleExtensions;
} arguments;

// ---- du ----

// Counts PATH (a directory's tree or one file), or every drive when there is none; false after
// reporting why not. `shownPath` receives PATH as the map spells it.
bool CountUsage(CommandContext &context, UsageCounter &counter, std::optional<std::string> &shownPath, int &exitCode) {
    const LibraryExports &library = context.library;
    if (arguments.duPath.empty()) {
        ForEachDrive(library.GetEntry, [&](char letter, const BYTE *rootBlock) {
            counter.AddTree(rootBlock, std::string{letter, ':', '\\'}, /*asEntry=*/true);
        });
        return true;
    }
    std::string error;
    std::optional<std::string> path = WindowsPathArgument(arguments.duPath, context.machine, error);
    if (!path) {
        exitCode = Fail(error, kExitUsage);
        return false;
    }
    if (path->size() > 3 && path->back() == '\\') path->pop_back();
    EntryPosition position{};
    if (!library.GetEntry(0, path->c_str(), &position)) {
        exitCode = ReportLibraryError(library.GetError(), *path + " is not in the map");
        return false;
    }
    char fullPath[MAX_PATH + 40];
    shownPath = library.GetFullPath(fullPath, &position) ? std::string(fullPath) : *path;
    RecordView view;
    if (LoadPtr32(&position.pEntry) == nullptr) {
        counter.AddTree(LoadPtr32(&position.pBlock), *shownPath, /*asEntry=*/false);  // a drive's root
    } else if (!ReadPositionRecord(position, view)) {
        exitCode = Fail("the map's record of " + *path + " cannot be read");
        return false;
    } else if (view.isFile) {
        counter.AddFile(view.dwSize);
    } else {
        counter.AddTree(view.childBlock, *shownPath, /*asEntry=*/false);
    }
    return true;
}

int RunDu(CommandContext &context) {
    ResultWriter &out = context.out;
    UsageCounter counter(arguments.top);
    std::optional<std::string> path;
    int exitCode = kExitFound;
    if (!CountUsage(context, counter, path, exitCode)) return exitCode;
    const DiskUsage usage = counter.Finish();
    if (out.Json()) {
        nlohmann::json document = {{"path", nullptr}};
        if (path) out.AddPath(document, *path);
        document["size"] = usage.total;
        document["files"] = usage.cFiles;
        document["directories"] = usage.cDirectories;
        nlohmann::json largest = nlohmann::json::array();
        for (const UsageEntry &entry : usage.largest) {
            nlohmann::json item = out.PathObject(entry.path);
            item["size"] = entry.size;
            item["directory"] = entry.directory;
            largest.push_back(std::move(item));
        }
        document["largest"] = std::move(largest);
        out.PrintJson(document);
        return kExitFound;
    }
    if (path)
        out.ResultFields({out.Size(usage.total), out.Shown(*path)});
    else
        out.NoteFields({out.Size(usage.total), "total"});
    for (const UsageEntry &entry : usage.largest) out.ResultFields({out.Size(entry.size), out.Shown(entry.path)});
    return kExitFound;
}

// ---- unused ----

// Whether the library finds an executable that uses the file at `path`; nothing when it cannot say.
std::optional<bool> LibraryFindsUsers(const LibraryExports &library, const std::string &path) {
    EntryPosition position{};
    ReferenceResultBlock *result = nullptr;
    if (!library.GetEntryReferences(0, path.c_str(), &position, &result, 0)) return std::nullopt;
    if (result == nullptr) return false;
    const bool used = LoadField<WORD>(&result->wCount) > 0;
    HGLOBAL handle = GlobalHandle(result);
    GlobalUnlock(handle);
    GlobalFree(handle);
    return used;
}

int RunUnused(CommandContext &context) {
    ResultWriter &out = context.out;
    const std::vector<std::string> extensions = ParseExtensionList(arguments.extensions);
    if (extensions.empty()) return Fail("--ext names no extension", kExitUsage);
    const NameSet systemModules = ReadSystemFiles(context.state.hostDir + "/PURGWELL.DAT");
    ModuleSurvey survey = SurveyModules(context.library.GetEntry, extensions);

    std::vector<ModuleFile> unused;
    uint64_t cSystem = 0, cbUnused = 0;
    for (ModuleFile &module : survey.modules) {
        if (systemModules.count(module.baseName) != 0) {
            ++cSystem;
            continue;
        }
        // A name no record references cannot be used by anything: the library need not be asked.
        if (survey.referenceNames.count(module.baseName) != 0) {
            const std::optional<bool> used = LibraryFindsUsers(context.library, module.path);
            if (!used) {
                PrintMessage("cannot tell what uses " + module.path + ": error " +
                             std::to_string(context.library.GetError()));
                continue;
            }
            if (*used) continue;
        }
        cbUnused += module.size;
        unused.push_back(std::move(module));
    }
    std::sort(unused.begin(), unused.end(), [](const ModuleFile &a, const ModuleFile &b) {
        return a.size != b.size ? a.size > b.size : a.path < b.path;
    });

    if (out.Json()) {
        nlohmann::json modules = nlohmann::json::array();
        for (const ModuleFile &module : unused) {
            nlohmann::json item = out.PathObject(module.path);
            item["size"] = module.size;
            modules.push_back(std::move(item));
        }
        nlohmann::json extensionList = nlohmann::json::array();
        for (const std::string &extension : extensions) extensionList.push_back(Cp1252ToUtf8(extension));
        out.PrintJson({{"modules", std::move(modules)},
                       {"count", unused.size()},
                       {"bytes", cbUnused},
                       {"extensions", std::move(extensionList)},
                       {"systemModulesSkipped", cSystem}});
    } else {
        for (const ModuleFile &module : unused) out.ResultFields({out.Size(module.size), out.Shown(module.path)});
        out.NoteFields({out.Size(cbUnused), "total: " + std::to_string(unused.size()) +
                                                (unused.size() == 1 ? " unused module" : " unused modules")});
    }
    return unused.empty() ? kExitNothingFound : kExitFound;
}

// ---- missing ----

struct Executable {
    std::string directory;  // "C:\DIR\"
    std::string_view name;
    std::vector<std::string_view> references;
};

int RunMissing(CommandContext &context) {
    ResultWriter &out = context.out;
    const LibraryExports &library = context.library;
    // The executables first, then where each of their modules would load from.
    std::vector<Executable> executables;
    RecordView view;
    ForEachDrive(library.GetEntry, [&](char letter, const BYTE *rootBlock) {
        WalkBlocks(
            rootBlock, std::string{letter, ':', '\\'}, /*withPaths=*/true, [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, const std::string &directory) {
                if (ReadRecord(record, cbRecord, view) && !view.references.empty())
                    executables.push_back({directory, view.name, view.references});
            });
    });

    ModuleFinder finder(library, context.machine);
    nlohmann::json found = nlohmann::json::array();
    uint64_t cFound = 0;
    for (const Executable &executable : executables) {
        std::vector<std::string_view> missing;
        for (const std::string_view name : executable.references) {
            if (std::find(missing.begin(), missing.end(), name) != missing.end()) continue;
            if (!finder.Find(executable.directory, name)) missing.push_back(name);
        }
        if (missing.empty()) continue;
        ++cFound;
        const std::string path = JoinWindowsPath(executable.directory, executable.name);
        if (out.Json()) {
            nlohmann::json item = out.PathObject(path);
            nlohmann::json names = nlohmann::json::array();
            for (const std::string_view name : missing) names.push_back(Cp1252ToUtf8(name));
            item["missing"] = std::move(names);
            found.push_back(std::move(item));
            continue;
        }
        std::string names;
        for (size_t i = 0; i < missing.size(); ++i) names += (i > 0 ? "," : "") + std::string(missing[i]);
        out.ResultFields({out.Shown(path), names});
    }
    if (out.Json()) out.PrintJson({{"executables", std::move(found)}, {"count", cFound}});
    return cFound == 0 ? kExitNothingFound : kExitFound;
}

}  // namespace

void AddAnalysisCommands(CLI::App &app, Options &, CommandTable &table) {
    CLI::App *du = app.add_subcommand(
        "du", "list the largest directories and files below PATH (default: every drive) by the sizes the map holds");
    du->add_option("PATH", arguments.duPath, "a directory or file: a Windows path (C:\\DIR) or a host path");
    du->add_option("--top", arguments.top, "how many entries to list (default 20)")->check(CLI::NonNegativeNumber);
    table.push_back({du, CommandAccess::kReadsMap, RunDu});

    CLI::App *unused = app.add_subcommand(
        "unused",
        "list the modules no mapped executable uses, largest first; the system modules of PURGWELL.DAT's "
        "[SystemFiles] are left out, as references to them are never recorded");
    unused->add_option(
        "--ext", arguments.extensions,
        std::string("the extensions of the modules, comma-separated (default ") + kDefaultModuleExtensions + ")");
    table.push_back({unused, CommandAccess::kReadsMap, RunUnused});

    table.push_back({app.add_subcommand("missing",
                                        "list the executables that reference a module the map holds nowhere it would "
                                        "be loaded from"),
                     CommandAccess::kReadsMap, RunMissing});
}

}  // namespace drivemap
