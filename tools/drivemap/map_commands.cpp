// drivemap's commands on the map as a whole: build and sync it, print its statistics, and show
// the machine drivemap describes to the library.
#include "command_context.h"
#include "host_machine.h"
#include "map_changes.h"
#include "map_loading.h"
#include "map_statistics.h"
#include "pwdvmp32_errors.h"
#include "scan_progress.h"
#include "scan_report.h"
#include "scanning_mode.h"
#include "settings_text.h"
#include "text_output.h"

#include <cstdio>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drivemap {
namespace {

struct ScanArguments {
    uint64_t stopAfter = 0;
} scanArguments;

std::string Windows(const std::string &text) { return Cp1252ToUtf8(text); }

int RunMachine(CommandContext &context) {
    const MachineConfig &config = context.machine;
    const StatePlace &state = context.state;
    const bool json = context.options.json;
    if (json) {
        nlohmann::json drives = nlohmann::json::array();
        for (const auto &d : config.drives)
            drives.push_back({{"letter", std::string(1, d.letter) + ":"},
                              {"type", DriveTypeName(d.type)},
                              {"hostDirectory", d.hostDir}});
        nlohmann::json out = {{"drives", drives},
                              {"platform", PlatformName(config.version)},
                              {"windowsDirectory", Windows(config.windowsDir)},
                              {"systemDirectory", Windows(config.systemDir)},
                              {"path", Windows(config.path)},
                              {"program", Windows(config.program)},
                              {"stateDirectory", state.hostDir}};
        context.out.PrintJson(out);
        return kExitFound;
    }
    std::cout << "Drives:\n";
    for (const auto &d : config.drives)
        std::printf("  %c:  %-9s  %s\n", d.letter, DriveTypeName(d.type), Printable(d.hostDir).c_str());
    std::cout << "Platform:          " << PlatformName(config.version) << "\n"
              << "Windows directory: " << Printable(config.windowsDir) << "\n"
              << "System directory:  " << Printable(config.systemDir) << "\n"
              << "PATH:              " << Printable(config.path) << "\n"
              << "Program:           " << Printable(config.program) << "\n"
              << "State directory:   " << Printable(state.hostDir) << "\n";
    return kExitFound;
}

// ---- Statistics ----

nlohmann::json CountsJson(const MapCounts &c) {
    return {{"directories", c.cDirectories},
            {"files", c.cFiles},
            {"neExecutables", c.cNeExecutables},
            {"peExecutables", c.cPeExecutables},
            {"withReferences", c.cWithReferences},
            {"blocks", c.cBlocks},
            {"blockBytes", c.cbBlocks},
            {"fileBytes", c.cbFiles}};
}

uint64_t MapFileBytes(const StatePlace &state) {
    struct stat st;
    return stat(state.MapFile().c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The rules of the settings file beside the map: those the library read when it built or synced
// it, unless the file was changed since.
ScanningMode ScanningModeBeside(const StatePlace &state) {
    return ScanningModeOfSettings(ReadSettingsText(state.SettingsFile()));
}

nlohmann::json StatisticsJson(const std::vector<DriveCounts> &drives, const StatePlace &state) {
    nlohmann::json perDrive = nlohmann::json::array();
    for (const auto &d : drives) {
        nlohmann::json entry = CountsJson(d.counts);
        entry["letter"] = std::string(1, d.chLetter) + ":";
        perDrive.push_back(entry);
    }
    return {{"mapFile", {{"path", state.MapFile()}, {"bytes", MapFileBytes(state)}}},
            {"scanning", ScanningModeBeside(state).Json()},
            {"drives", perDrive},
            {"total", CountsJson(TotalCounts(drives))}};
}

void PrintStatisticsText(const std::vector<DriveCounts> &drives, const StatePlace &state, const ResultWriter &out) {
    std::printf("Map file: %s (%s bytes)\n", Printable(state.MapFile()).c_str(), out.Size(MapFileBytes(state)).c_str());
    std::printf("Scanning: %s\n\n", ScanningModeBeside(state).Text().c_str());
    std::printf("%-6s %12s %12s %8s %8s %10s %12s %16s\n", "Drive", "Directories", "Files", "NE", "PE", "With refs",
                "Map bytes", "File bytes");
    auto row = [&](const char *name, const MapCounts &c) {
        std::printf(
            "%-6s %12llu %12llu %8llu %8llu %10llu %12s %16s\n", name, static_cast<unsigned long long>(c.cDirectories),
            static_cast<unsigned long long>(c.cFiles), static_cast<unsigned long long>(c.cNeExecutables),
            static_cast<unsigned long long>(c.cPeExecutables), static_cast<unsigned long long>(c.cWithReferences),
            out.Size(c.cbBlocks).c_str(), out.Size(c.cbFiles).c_str());
    };
    for (const auto &d : drives) row((std::string(1, d.chLetter) + ":").c_str(), d.counts);
    if (drives.size() != 1) row("Total", TotalCounts(drives));
}

int RunStats(CommandContext &context) {
    const LoadedMap &map = *context.loaded;
    const StatePlace &state = context.state;
    if (context.options.json) {
        nlohmann::json out = StatisticsJson(map.drives, state);
        out["damage"] = DamageJson(state, map);
        context.out.PrintJson(out);
    } else {
        PrintStatisticsText(map.drives, state, context.out);
    }
    return map.Damaged() ? kExitDamaged : 0;
}

// ---- Build and sync ----

typedef BOOL(WINAPI *ScanFunction)(void *context, FileCallback fileCallback, DirCallback dirCallback);

std::string FileSizeLimitText() {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::string();
    return ", or the map file would pass the file-size limit (ulimit -f) of " +
           std::to_string(static_cast<unsigned long long>(limit.rlim_cur)) + " bytes";
}

// Runs DriveMap_BuildAll or DriveMap_SyncAll with drivemap's callbacks and the host layer's
// listings observed, then prints the statistics, what changed (for a sync) and what was left out.
// `loaded` is the map a sync started from and `before` its records.
int RunScan(CommandContext &context, bool sync, const LoadedMap *loaded, const MapSnapshot *before) {
    const Options &options = context.options;
    const StatePlace &state = context.state;
    const ScanFunction scan = sync ? context.library.SyncAll : context.library.BuildAll;
    const auto getError = context.library.GetError;
    const auto getEntry = context.library.GetEntry;

    ScanReport report;
    report.keepItems = options.verbose;
    BOOL saved;
    DWORD code;
    {
        ListingObserver observer(report);
        // The walk only reads the disks, so listings may be read ahead.
        HostMachine_ReadAheadListings(HOST_READ_AHEAD_NOT_DOT_DIRECTORIES);
        BeginScan(
            {!options.quiet && isatty(STDERR_FILENO) != 0, sync ? "new files" : "files", scanArguments.stopAfter});
        saved = scan(nullptr, ScanFileCallback, ScanDirCallback);
        code = getError();
        EndScan();
        HostMachine_ReadAheadListings(HOST_READ_AHEAD_OFF);
    }
    const std::string unchanged = "nothing was saved; the previous map file, if any, is unchanged";
    if (!saved) {
        if (code == DRIVEMAP_STOPPED && ScanInterrupted()) {
            ReportLibraryError(code, unchanged);
            return kExitInterrupted;
        }
        // Nothing but Ctrl-C and --stop-after makes drivemap's callbacks stop a scan: the library
        // stops it by itself when a directory block cannot be allocated.
        if (code == DRIVEMAP_STOPPED) return ReportLibraryError(code, "memory ran out during the scan; " + unchanged);
        if (code == DRIVEMAP_NO_MEMORY) return ReportLibraryError(code, unchanged);
        if (code == DRIVEMAP_CREATE_FAILED)
            return ReportLibraryError(
                code, "the map was not saved to " + state.MapFile() + "; the previous map file, if any, is unchanged");
        if (code == DRIVEMAP_WRITE_FAILED)
            return ReportLibraryError(
                code, "the map was not saved to " + state.MapFile() +
                          ": the disk is full, or a drive holds more than 65,535 directories or a directory more "
                          "than 65,535 entries, more than a map file can hold" +
                          FileSizeLimitText() + "; the previous map file, if any, is unchanged");
        return ReportLibraryError(code, unchanged);
    }

    CountUnscannedExecutables(getEntry, report);
    const auto drives = CollectMapStatistics(getEntry);
    const MapChanges changes = before != nullptr ? before->CompareWith(getEntry) : MapChanges();
    if (options.json) {
        nlohmann::json out = StatisticsJson(drives, state);
        if (before != nullptr)
            out["changes"] = {{"directoriesAdded", changes.directoriesAdded},
                              {"directoriesRemoved", changes.directoriesRemoved},
                              {"filesAdded", changes.filesAdded},
                              {"filesRemoved", changes.filesRemoved},
                              {"filesUpdated", changes.filesUpdated},
                              {"executablesRescanned", changes.executablesRescanned}};
        out["leftOut"] = ReportJson(report);
        if (sync) out["damage"] = loaded != nullptr ? DamageJson(state, *loaded) : nullptr;
        context.out.PrintJson(out);
    } else {
        PrintStatisticsText(drives, state, context.out);
        if (before != nullptr) std::cout << "\n" << ChangesText(changes) << "\n";
        const std::string text = ReportText(report, sync);
        if (!text.empty()) std::cout << "\n" << text;
    }
    return 0;
}

int RunSync(CommandContext &context) {
    const LoadedMap &map = *context.loaded;
    if (map.Damaged()) {
        if (!context.options.force)
            return Fail(
                "not synchronised: a sync would add the dropped directories and files again, with their usage "
                "counts and stamps lost; `drivemap sync --force` syncs anyway, `drivemap build` makes a new map",
                kExitDamaged);
        PrintMessage("synchronising anyway (--force)");
    }
    const MapCounts total = TotalCounts(map.drives);
    const MapSnapshot before(context.library.GetEntry, total.cDirectories + total.cFiles);
    return RunScan(context, /*sync=*/true, &map, &before);
}
}  // namespace

void AddMapCommands(CLI::App &app, Options &options, CommandTable &table) {
    CLI::App *build = app.add_subcommand(
        "build", "build the map of the machine's local hard disks, save it and print its statistics");
    // For tests: stop the scan at this file callback, as Ctrl-C would.
    build->add_option("--stop-after", scanArguments.stopAfter)->group("")->check(CLI::PositiveNumber);
    table.push_back(
        {build, CommandAccess::kScans, [](CommandContext &c) { return RunScan(c, false, nullptr, nullptr); }});

    CLI::App *sync =
        app.add_subcommand("sync", "bring the saved map up to date with the disks, save it and print its statistics");
    sync->add_flag("--force", options.force, "sync even a map whose file was damaged (blocks dropped on loading)");
    sync->add_option("--stop-after", scanArguments.stopAfter)->group("")->check(CLI::PositiveNumber);
    table.push_back({sync, CommandAccess::kChangesMap, RunSync});

    table.push_back(
        {app.add_subcommand("stats", "print what the saved map holds"), CommandAccess::kReadsMap, RunStats});
    table.push_back({app.add_subcommand("machine", "show the emulated machine drivemap would use"),
                     CommandAccess::kMachine, RunMachine});
}

}  // namespace drivemap
