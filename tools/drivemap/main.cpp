// drivemap: configures the emulated Windows machine, loads the drive map library the way a
// Windows program does, and runs its main jobs: build, sync and stats of the map, and machine.
#include "drive_map_library.h"
#include "machine_config.h"
#include "map_statistics.h"
#include "pwdvmp32_errors.h"
#include "scan_progress.h"
#include "state_directory.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

// Exit codes.
constexpr int kExitLibraryError = 1;   // the library reported an error
constexpr int kExitUsage = 2;          // bad arguments, or the machine cannot be set up
constexpr int kExitInterrupted = 130;  // the scan was stopped by Ctrl-C (128 + SIGINT)

struct Options {
    std::vector<std::string> drives;
    std::string prefix;
    std::string platform;
    std::string windowsDir;
    std::string systemDir;
    std::string stateDir;
    bool json = false;
    bool quiet = false;
    uint64_t stopAfter = 0;
};

// The state directory on the host: the emulated program's directory.
struct StatePlace {
    std::string hostDir;
};

bool BuildMachineConfig(const Options &options, drivemap::MachineConfig &config, std::string &error) {
    const char *hostPath = std::getenv("PATH");
    if (!options.prefix.empty()) {
        auto prefix = drivemap::PrefixMachineConfig(options.prefix, error);
        if (!prefix) return false;
        config = *prefix;
    } else if (options.drives.empty()) {
        config = drivemap::HostMachineConfig(drivemap::LocalDiskMountPoints(), hostPath ? hostPath : "");
    }
    // --drive adds drives to a prefix's, or replaces its drive of the same letter.
    for (const auto &text : options.drives) {
        auto drive = drivemap::ParseDriveOption(text, error);
        if (!drive) return false;
        std::erase_if(config.drives, [&](auto &d) { return d.letter == drive->letter; });
        config.drives.push_back(*drive);
    }
    // PATH keeps the host directories that lie on the chosen drives.
    if (options.prefix.empty() && !options.drives.empty())
        config.path = drivemap::WindowsPathList(hostPath ? hostPath : "", config.drives);
    if (!options.platform.empty()) config.version = *drivemap::VersionForPlatform(options.platform);
    if (!options.windowsDir.empty()) config.windowsDir = options.windowsDir;
    if (!options.systemDir.empty()) config.systemDir = options.systemDir;
    return true;
}

std::string MapFilePath(const StatePlace &state) { return state.hostDir + "/PWDRVMAP.DAT"; }

void PrintMachine(const drivemap::MachineConfig &config, const StatePlace &state, bool json) {
    if (json) {
        nlohmann::json drives = nlohmann::json::array();
        for (const auto &d : config.drives)
            drives.push_back({{"letter", std::string(1, d.letter) + ":"},
                              {"type", drivemap::DriveTypeName(d.type)},
                              {"hostDirectory", d.hostDir}});
        nlohmann::json out = {{"drives", drives},
                              {"platform", drivemap::PlatformName(config.version)},
                              {"windowsDirectory", config.windowsDir},
                              {"systemDirectory", config.systemDir},
                              {"path", config.path},
                              {"program", config.program},
                              {"stateDirectory", state.hostDir}};
        std::cout << out.dump(2) << "\n";
        return;
    }
    std::cout << "Drives:\n";
    for (const auto &d : config.drives)
        std::printf("  %c:  %-9s  %s\n", d.letter, drivemap::DriveTypeName(d.type), d.hostDir.c_str());
    std::cout << "Platform:          " << drivemap::PlatformName(config.version) << "\n"
              << "Windows directory: " << config.windowsDir << "\n"
              << "System directory:  " << config.systemDir << "\n"
              << "PATH:              " << config.path << "\n"
              << "Program:           " << config.program << "\n"
              << "State directory:   " << state.hostDir << "\n";
}

nlohmann::json CountsJson(const drivemap::MapCounts &c) {
    return {{"directories", c.cDirectories},
            {"files", c.cFiles},
            {"neExecutables", c.cNeExecutables},
            {"peExecutables", c.cPeExecutables},
            {"withReferences", c.cWithReferences},
            {"blocks", c.cBlocks},
            {"blockBytes", c.cbBlocks},
            {"fileBytes", c.cbFiles}};
}

void PrintStatistics(drivemap::GetEntryFunction getEntry, const StatePlace &state, bool json) {
    const auto drives = drivemap::CollectMapStatistics(getEntry);
    const auto total = drivemap::TotalCounts(drives);
    std::error_code ec;
    const std::string mapFile = MapFilePath(state);
    const auto cbMapFile = std::filesystem::file_size(mapFile, ec);
    const uint64_t cbFile = ec ? 0 : cbMapFile;
    if (json) {
        nlohmann::json perDrive = nlohmann::json::array();
        for (const auto &d : drives) {
            nlohmann::json entry = CountsJson(d.counts);
            entry["letter"] = std::string(1, d.chLetter) + ":";
            perDrive.push_back(entry);
        }
        nlohmann::json out = {
            {"mapFile", {{"path", mapFile}, {"bytes", cbFile}}}, {"drives", perDrive}, {"total", CountsJson(total)}};
        std::cout << out.dump(2) << "\n";
        return;
    }
    std::printf("Map file: %s (%llu bytes)\n\n", mapFile.c_str(), static_cast<unsigned long long>(cbFile));
    std::printf("%-6s %12s %12s %8s %8s %10s %12s %16s\n", "Drive", "Directories", "Files", "NE", "PE", "With refs",
                "Map bytes", "File bytes");
    auto row = [](const char *name, const drivemap::MapCounts &c) {
        std::printf("%-6s %12llu %12llu %8llu %8llu %10llu %12llu %16llu\n", name,
                    static_cast<unsigned long long>(c.cDirectories), static_cast<unsigned long long>(c.cFiles),
                    static_cast<unsigned long long>(c.cNeExecutables),
                    static_cast<unsigned long long>(c.cPeExecutables),
                    static_cast<unsigned long long>(c.cWithReferences), static_cast<unsigned long long>(c.cbBlocks),
                    static_cast<unsigned long long>(c.cbFiles));
    };
    for (const auto &d : drives) row((std::string(1, d.chLetter) + ":").c_str(), d.counts);
    if (drives.size() != 1) row("Total", total);
}

int ReportLibraryError(DWORD code, const std::string &hint = std::string()) {
    std::fprintf(stderr, "drivemap: error %lu: %s\n", static_cast<unsigned long>(code), DriveMapErrorText(code));
    if (!hint.empty()) std::fprintf(stderr, "drivemap: %s\n", hint.c_str());
    return kExitLibraryError;
}

int ReportFailure(const std::string &message) {
    std::fprintf(stderr, "drivemap: %s\n", message.c_str());
    return kExitLibraryError;
}

// Loads the saved map; false after reporting why not.
bool ReadMap(const drivemap::DriveMapLibrary &library, const StatePlace &state, int &exitCode) {
    std::string error;
    auto readAll = library.Export<BOOL(WINAPI *)(DWORD)>("DriveMap_ReadAll", error);
    auto getError = library.Export<DWORD(WINAPI *)(void)>("DriveMap_GetError", error);
    if (readAll == nullptr || getError == nullptr) {
        exitCode = ReportFailure(error);
        return false;
    }
    if (readAll(0)) return true;
    const DWORD code = getError();
    exitCode = ReportLibraryError(
        code, code == DRIVEMAP_NOT_FOUND ? "no map in " + state.hostDir + " yet: run `drivemap build` first"
              : code == DRIVEMAP_FILE_DAMAGED || code == DRIVEMAP_OLD_VERSION ? "run `drivemap build` to make a new map"
                                                                              : std::string());
    return false;
}

typedef BOOL(WINAPI *ScanFunction)(void *context, FileCallback fileCallback, DirCallback dirCallback);

// Runs DriveMap_BuildAll or DriveMap_SyncAll with drivemap's callbacks, then prints the statistics.
int RunScan(const drivemap::DriveMapLibrary &library, const char *exportName, const char *filesLabel,
            const Options &options, const StatePlace &state) {
    std::string error;
    auto scan = library.Export<ScanFunction>(exportName, error);
    auto getError = library.Export<DWORD(WINAPI *)(void)>("DriveMap_GetError", error);
    auto getEntry = library.Export<drivemap::GetEntryFunction>("DriveMap_GetEntry", error);
    if (scan == nullptr || getError == nullptr || getEntry == nullptr) return ReportFailure(error);

    drivemap::BeginScan({!options.quiet && isatty(STDERR_FILENO), filesLabel, options.stopAfter});
    const BOOL saved = scan(nullptr, drivemap::ScanFileCallback, drivemap::ScanDirCallback);
    const DWORD code = getError();
    drivemap::EndScan();
    if (!saved) {
        if (code == DRIVEMAP_STOPPED) {
            ReportLibraryError(code, "nothing was saved; the previous map file, if any, is unchanged");
            return drivemap::ScanInterrupted() ? kExitInterrupted : kExitLibraryError;
        }
        std::string hint;
        if (code == DRIVEMAP_CREATE_FAILED) hint = "the map was not saved to " + MapFilePath(state);
        if (code == DRIVEMAP_WRITE_FAILED)
            hint = "the map was not saved to " + MapFilePath(state) +
                   ": the disk is full, or a drive holds more than 65,535 directories or a directory more "
                   "than 65,535 entries, more than a map file can hold";
        return ReportLibraryError(code, hint);
    }
    PrintStatistics(getEntry, state, options.json);
    return 0;
}

int RunStats(const drivemap::DriveMapLibrary &library, const Options &options, const StatePlace &state) {
    int exitCode = 0;
    if (!ReadMap(library, state, exitCode)) return exitCode;
    std::string error;
    auto getEntry = library.Export<drivemap::GetEntryFunction>("DriveMap_GetEntry", error);
    if (getEntry == nullptr) return ReportFailure(error);
    PrintStatistics(getEntry, state, options.json);
    return 0;
}

int Run(int argc, char **argv) {
    CLI::App app{"drivemap: builds and queries the drive map of this machine"};
    app.set_version_flag("--version", std::string("drivemap ") + PWDVMP32_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // the options below may also follow the subcommand
    app.failure_message(CLI::FailureMessage::help);

    Options options;
    app.add_option("--drive", options.drives,
                   "map a drive explicitly: X=DIR[,TYPE], TYPE one of "
                   "fixed, removable, remote, cdrom, ramdisk (repeatable)")
        ->check(CLI::Validator(
            [](std::string &text) {
                std::string error;
                return drivemap::ParseDriveOption(text, error) ? std::string() : error;
            },
            "X=DIR[,TYPE]"));
    app.add_option("--prefix", options.prefix,
                   "the machine of a Wine-style prefix: its dosdevices links are the drives")
        ->check(CLI::ExistingDirectory);
    app.add_option("--platform", options.platform, "the emulated platform: nt, 95 or win32s")
        ->check(CLI::IsMember({"nt", "95", "win32s"}));
    app.add_option("--windows-dir", options.windowsDir, "the Windows directory (a Windows path)");
    app.add_option("--system-dir", options.systemDir, "the System directory (a Windows path)");
    app.add_option("--state", options.stateDir,
                   "the program directory, which holds PWDRVMAP.DAT and PURGWELL.DAT "
                   "(default $XDG_DATA_HOME/drivemap or ~/.local/share/drivemap)");
    app.add_flag("--json", options.json, "print results as JSON");
    app.add_flag("-q,--quiet", options.quiet, "no status line during build and sync");
    // For tests: stop the scan at this file callback, as Ctrl-C would.
    app.add_option("--stop-after", options.stopAfter)->group("")->check(CLI::PositiveNumber);

    CLI::App *build = app.add_subcommand(
        "build", "build the map of the machine's local hard disks, save it and print its statistics");
    CLI::App *sync =
        app.add_subcommand("sync", "bring the saved map up to date with the disks, save it and print its statistics");
    CLI::App *stats = app.add_subcommand("stats", "print what the saved map holds");
    CLI::App *machine = app.add_subcommand("machine", "show the emulated machine drivemap would use");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }

    std::string error;
    auto stateDir = drivemap::PrepareStateDirectory(
        options.stateDir.empty() ? drivemap::DefaultStateDirectory() : options.stateDir, error);
    drivemap::MachineConfig config;
    std::optional<std::string> programDir;
    if (!stateDir || !BuildMachineConfig(options, config, error) ||
        !(programDir = drivemap::PlaceProgramDirectory(config, *stateDir, error))) {
        std::fprintf(stderr, "drivemap: %s\n", error.c_str());
        return kExitUsage;
    }
    config.program = *programDir + (programDir->back() == '\\' ? "" : "\\") + "DRIVEMAP.EXE";
    const StatePlace state{*stateDir};
    if (!drivemap::ApplyMachineConfig(config, error)) {
        std::fprintf(stderr, "drivemap: %s\n", error.c_str());
        return kExitUsage;
    }
    if (machine->parsed()) {
        PrintMachine(config, state, options.json);
        return 0;
    }

    drivemap::DriveMapLibrary library;
    if (!library.Load(error)) return ReportFailure(error);
    if (build->parsed()) return RunScan(library, "DriveMap_BuildAll", "files", options, state);
    if (sync->parsed()) {
        int exitCode = 0;
        if (!ReadMap(library, state, exitCode)) return exitCode;
        return RunScan(library, "DriveMap_SyncAll", "new files", options, state);
    }
    if (stats->parsed()) return RunStats(library, options, state);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "drivemap: %s\n", e.what());
        return kExitLibraryError;
    }
}
