// drivemap: configures the emulated Windows machine, loads the drive map library the way a
// Windows program does, and runs its main jobs: build, sync and stats of the map, and machine.
#include "drive_map_library.h"
#include "machine_config.h"
#include "map_file_head.h"
#include "map_statistics.h"
#include "pwdvmp32_errors.h"
#include "scan_progress.h"
#include "scan_report.h"
#include "state_directory.h"
#include "state_lock.h"
#include "text_output.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Exit codes.
constexpr int kExitLibraryError = 1;   // the library reported an error, or drivemap could not go on
constexpr int kExitUsage = 2;          // bad arguments, or the machine cannot be set up
constexpr int kExitDamaged = 3;        // the map file is damaged: blocks were dropped when it was loaded
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
    bool verbose = false;
    bool force = false;
    uint64_t stopAfter = 0;
};

// The state directory on the host: the emulated program's directory, which holds the map file.
struct StatePlace {
    std::string hostDir;
    std::string MapFile() const { return hostDir + "/PWDRVMAP.DAT"; }
};

// Windows paths and names are code page 1252 text; JSON gets them as Unicode.
std::string Windows(const std::string &text) { return drivemap::Cp1252ToUtf8(text); }

int Fail(const std::string &message, int exitCode = kExitLibraryError) {
    drivemap::PrintMessage(message);
    return exitCode;
}

int ReportLibraryError(DWORD code, const std::string &hint = std::string()) {
    drivemap::PrintMessage("error " + std::to_string(code) + ": " + DriveMapErrorText(code));
    if (!hint.empty()) drivemap::PrintMessage(hint);
    return kExitLibraryError;
}

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

void PrintMachine(const drivemap::MachineConfig &config, const StatePlace &state, bool json) {
    if (json) {
        nlohmann::json drives = nlohmann::json::array();
        for (const auto &d : config.drives)
            drives.push_back({{"letter", std::string(1, d.letter) + ":"},
                              {"type", drivemap::DriveTypeName(d.type)},
                              {"hostDirectory", d.hostDir}});
        nlohmann::json out = {{"drives", drives},
                              {"platform", drivemap::PlatformName(config.version)},
                              {"windowsDirectory", Windows(config.windowsDir)},
                              {"systemDirectory", Windows(config.systemDir)},
                              {"path", Windows(config.path)},
                              {"program", Windows(config.program)},
                              {"stateDirectory", state.hostDir}};
        std::cout << drivemap::JsonText(out) << "\n";
        return;
    }
    using drivemap::Printable;
    std::cout << "Drives:\n";
    for (const auto &d : config.drives)
        std::printf("  %c:  %-9s  %s\n", d.letter, drivemap::DriveTypeName(d.type), Printable(d.hostDir).c_str());
    std::cout << "Platform:          " << drivemap::PlatformName(config.version) << "\n"
              << "Windows directory: " << Printable(config.windowsDir) << "\n"
              << "System directory:  " << Printable(config.systemDir) << "\n"
              << "PATH:              " << Printable(config.path) << "\n"
              << "Program:           " << Printable(config.program) << "\n"
              << "State directory:   " << Printable(state.hostDir) << "\n";
}

// ---- Loading the map, and telling the user when the file held more than the load kept ----

// A map as loaded: the statistics of what it holds and, when the file declared more blocks than
// the load kept (or its head does not add up), what was lost.
struct LoadedMap {
    std::vector<drivemap::DriveCounts> drives;
    std::vector<drivemap::DroppedBlocks> dropped;
    std::string headProblem;  // the file's head could not be read back: damaged too
    bool Damaged() const { return !dropped.empty() || !headProblem.empty(); }
};

// A file descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

const char *KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "something other than a regular file";
}

// Anything but a regular file where the map file belongs is someone else's: drivemap neither reads
// it nor saves over it.
std::string NotAMapFileMessage(const std::string &path, mode_t mode) {
    return path + " is " + KindOfFile(mode) +
           ", not a map file: drivemap neither reads it nor replaces it; move it out of the way first";
}

// Fails when something other than a regular file lies where the map file belongs.
bool MapFilePlaceIsFree(const StatePlace &state, int &exitCode) {
    struct stat st;
    if (lstat(state.MapFile().c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
    exitCode = Fail(NotAMapFileMessage(state.MapFile(), st.st_mode));
    return false;
}

void WarnDamage(const StatePlace &state, const LoadedMap &map) {
    std::string message = "the map file " + state.MapFile() + " is damaged: ";
    if (!map.headProblem.empty()) {
        drivemap::PrintMessage(message + map.headProblem);
        return;
    }
    message +=
        "blocks whose parent block is missing were dropped when it was loaded, with the directories and "
        "files in them";
    for (const auto &d : map.dropped)
        message += "\n  drive " + std::string(1, d.chLetter) + ": " + std::to_string(d.cDeclared - d.cLoaded) +
                   " of its " + std::to_string(d.cDeclared) + " directory blocks dropped";
    drivemap::PrintMessage(message);
}

nlohmann::json DamageJson(const StatePlace &state, const LoadedMap &map) {
    if (!map.Damaged()) return nullptr;
    nlohmann::json drives = nlohmann::json::array();
    for (const auto &d : map.dropped)
        drives.push_back({{"letter", std::string(1, d.chLetter) + ":"},
                          {"blocksInFile", d.cDeclared},
                          {"blocksLoaded", d.cLoaded},
                          {"blocksDropped", d.cDeclared - d.cLoaded}});
    nlohmann::json out = {{"mapFile", state.MapFile()}, {"drives", drives}};
    if (!map.headProblem.empty()) out["problem"] = map.headProblem;
    return out;
}

// Reads the map file's head from `fd` and compares its block counts with the loaded map.
void CheckLoadedMap(int fd, const struct stat &st, drivemap::GetEntryFunction getEntry, LoadedMap &map) {
    map.drives = drivemap::CollectMapStatistics(getEntry);
    uint8_t head[drivemap::kMapFileHeadMaxBytes];
    const ssize_t cbHead = pread(fd, head, sizeof head, 0);
    std::string problem;
    const auto parsed = cbHead < 0 ? std::nullopt
                                   : drivemap::ParseMapFileHead(head, static_cast<size_t>(cbHead),
                                                                static_cast<uint64_t>(st.st_size), problem);
    if (!parsed) {
        map.headProblem = cbHead < 0 ? std::string("its head cannot be read back: ") + std::strerror(errno) : problem;
        return;
    }
    map.dropped = drivemap::FindDroppedBlocks(*parsed, map.drives);
}

// Loads the saved map; false after reporting why not. The file is opened here first, so that a
// place that holds no readable map file gets its own message, and its head is read from that
// descriptor; the load is repeated if another run replaced the file while the library read it.
bool LoadMap(const drivemap::DriveMapLibrary &library, const StatePlace &state, LoadedMap &map, int &exitCode) {
    std::string error;
    auto readAll = library.Export<BOOL(WINAPI *)(DWORD)>("DriveMap_ReadAll", error);
    auto freeAll = library.Export<void(WINAPI *)(void)>("DriveMap_FreeAll", error);
    auto getError = library.Export<DWORD(WINAPI *)(void)>("DriveMap_GetError", error);
    auto getEntry = library.Export<drivemap::GetEntryFunction>("DriveMap_GetEntry", error);
    if (readAll == nullptr || freeAll == nullptr || getError == nullptr || getEntry == nullptr) {
        exitCode = Fail(error);
        return false;
    }
    const std::string path = state.MapFile();
    for (int attempt = 0; attempt < 5; ++attempt) {
        Descriptor file;
        struct stat st {};
        file.fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const int openError = errno;
        if (file.fd < 0 && openError != ENOENT) {
            struct stat linkSt;
            if (lstat(path.c_str(), &linkSt) == 0 && !S_ISREG(linkSt.st_mode))
                exitCode = Fail(NotAMapFileMessage(path, linkSt.st_mode));
            else
                exitCode = Fail("cannot read the map file " + path + ": " + std::strerror(openError));
            return false;
        }
        if (file.fd >= 0 && (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            exitCode = Fail(NotAMapFileMessage(path, st.st_mode));
            return false;
        }

        if (!readAll(0)) {
            const DWORD code = getError();
            if (code == DRIVEMAP_NOT_FOUND && file.fd >= 0)
                exitCode = ReportLibraryError(code, "the library could not open the map file " + path);
            else if (code == DRIVEMAP_NOT_FOUND)
                exitCode = ReportLibraryError(code, "no map in " + state.hostDir + " yet: run `drivemap build` first");
            else if (code == DRIVEMAP_FILE_DAMAGED || code == DRIVEMAP_OLD_VERSION)
                exitCode = ReportLibraryError(code, "run `drivemap build` to make a new map");
            else
                exitCode = ReportLibraryError(code);
            return false;
        }
        // The library read the file this descriptor holds only if the name still leads to it: a
        // file held open keeps its inode, so no other file can come to carry it meanwhile.
        struct stat now;
        if (file.fd >= 0 && lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            CheckLoadedMap(file.fd, st, getEntry, map);
            return true;
        }
        freeAll();
    }
    exitCode = Fail("the map file " + path + " kept changing while it was read; try again");
    return false;
}

// ---- Statistics ----

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

uint64_t MapFileBytes(const StatePlace &state) {
    struct stat st;
    return stat(state.MapFile().c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

nlohmann::json StatisticsJson(const std::vector<drivemap::DriveCounts> &drives, const StatePlace &state) {
    nlohmann::json perDrive = nlohmann::json::array();
    for (const auto &d : drives) {
        nlohmann::json entry = CountsJson(d.counts);
        entry["letter"] = std::string(1, d.chLetter) + ":";
        perDrive.push_back(entry);
    }
    return {{"mapFile", {{"path", state.MapFile()}, {"bytes", MapFileBytes(state)}}},
            {"drives", perDrive},
            {"total", CountsJson(drivemap::TotalCounts(drives))}};
}

void PrintStatisticsText(const std::vector<drivemap::DriveCounts> &drives, const StatePlace &state) {
    std::printf("Map file: %s (%llu bytes)\n\n", drivemap::Printable(state.MapFile()).c_str(),
                static_cast<unsigned long long>(MapFileBytes(state)));
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
    if (drives.size() != 1) row("Total", drivemap::TotalCounts(drives));
}

int RunStats(const drivemap::DriveMapLibrary &library, const Options &options, const StatePlace &state) {
    int exitCode = 0;
    LoadedMap map;
    if (!LoadMap(library, state, map, exitCode)) return exitCode;
    if (map.Damaged()) WarnDamage(state, map);
    if (options.json) {
        nlohmann::json out = StatisticsJson(map.drives, state);
        out["damage"] = DamageJson(state, map);
        std::cout << drivemap::JsonText(out) << "\n";
    } else {
        PrintStatisticsText(map.drives, state);
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
// listings observed, then prints the statistics and what was left out. `loaded` is the map a sync
// started from.
int RunScan(const drivemap::DriveMapLibrary &library, bool sync, const Options &options, const StatePlace &state,
            const LoadedMap *loaded) {
    std::string error;
    auto scan = library.Export<ScanFunction>(sync ? "DriveMap_SyncAll" : "DriveMap_BuildAll", error);
    auto getError = library.Export<DWORD(WINAPI *)(void)>("DriveMap_GetError", error);
    auto getEntry = library.Export<drivemap::GetEntryFunction>("DriveMap_GetEntry", error);
    if (scan == nullptr || getError == nullptr || getEntry == nullptr) return Fail(error);

    drivemap::ScanReport report;
    report.keepItems = options.verbose;
    BOOL saved;
    DWORD code;
    {
        drivemap::ListingObserver observer(report);
        drivemap::BeginScan(
            {!options.quiet && isatty(STDERR_FILENO) != 0, sync ? "new files" : "files", options.stopAfter});
        saved = scan(nullptr, drivemap::ScanFileCallback, drivemap::ScanDirCallback);
        code = getError();
        drivemap::EndScan();
    }
    const std::string unchanged = "nothing was saved; the previous map file, if any, is unchanged";
    if (!saved) {
        if (code == DRIVEMAP_STOPPED && drivemap::ScanInterrupted()) {
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

    drivemap::CountUnscannedExecutables(getEntry, report);
    const auto drives = drivemap::CollectMapStatistics(getEntry);
    if (options.json) {
        nlohmann::json out = StatisticsJson(drives, state);
        out["leftOut"] = drivemap::ReportJson(report);
        if (sync) out["damage"] = loaded != nullptr ? DamageJson(state, *loaded) : nullptr;
        std::cout << drivemap::JsonText(out) << "\n";
    } else {
        PrintStatisticsText(drives, state);
        const std::string text = drivemap::ReportText(report, sync);
        if (!text.empty()) std::cout << "\n" << text;
    }
    return 0;
}

int RunSync(const drivemap::DriveMapLibrary &library, const Options &options, const StatePlace &state) {
    int exitCode = 0;
    LoadedMap map;
    if (!LoadMap(library, state, map, exitCode)) return exitCode;
    if (map.Damaged()) {
        WarnDamage(state, map);
        if (!options.force)
            return Fail(
                "not synchronised: a sync would add the dropped directories and files again, with their usage "
                "counts and stamps lost; `drivemap sync --force` syncs anyway, `drivemap build` makes a new map",
                kExitDamaged);
        drivemap::PrintMessage("synchronising anyway (--force)");
    }
    return RunScan(library, /*sync=*/true, options, state, &map);
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
    app.add_flag("-v,--verbose", options.verbose, "after build and sync, list what was left out, not only count it");
    // For tests: stop the scan at this file callback, as Ctrl-C would.
    app.add_option("--stop-after", options.stopAfter)->group("")->check(CLI::PositiveNumber);

    CLI::App *build = app.add_subcommand(
        "build", "build the map of the machine's local hard disks, save it and print its statistics");
    CLI::App *sync =
        app.add_subcommand("sync", "bring the saved map up to date with the disks, save it and print its statistics");
    sync->add_flag("--force", options.force, "sync even a map whose file was damaged (blocks dropped on loading)");
    CLI::App *stats = app.add_subcommand("stats", "print what the saved map holds");
    CLI::App *machine = app.add_subcommand("machine", "show the emulated machine drivemap would use");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // The messages may quote the arguments, which may hold any bytes.
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        std::cout << drivemap::Printable(out.str(), drivemap::LocaleTerminalText(), /*keepNewlines=*/true);
        std::cerr << drivemap::Printable(err.str(), drivemap::LocaleTerminalText(), /*keepNewlines=*/true);
        return code == 0 ? 0 : kExitUsage;
    }

    std::string error;
    auto stateDir = drivemap::PrepareStateDirectory(
        options.stateDir.empty() ? drivemap::DefaultStateDirectory() : options.stateDir, error);
    drivemap::MachineConfig config;
    std::optional<std::string> programDir;
    if (!stateDir || !BuildMachineConfig(options, config, error) ||
        !(programDir = drivemap::PlaceProgramDirectory(config, *stateDir, error)))
        return Fail(error, kExitUsage);
    config.program = *programDir + (programDir->back() == '\\' ? "" : "\\") + "DRIVEMAP.EXE";
    const StatePlace state{*stateDir};
    if (!drivemap::ApplyMachineConfig(config, error)) return Fail(error, kExitUsage);
    if (machine->parsed()) {
        PrintMachine(config, state, options.json);
        return 0;
    }

    // Writers hold the state directory's lock from before the load to after the save.
    drivemap::StateLock lock;
    if (build->parsed() || sync->parsed()) {
        const auto onWait = [&] {
            drivemap::PrintMessage("another drivemap is writing the map in " + state.hostDir +
                                   "; waiting for it to finish");
        };
        if (!lock.Acquire(state.hostDir, onWait, error)) return Fail(error);
    }
    int exitCode = 0;
    if (build->parsed() && !MapFilePlaceIsFree(state, exitCode)) return exitCode;

    drivemap::DriveMapLibrary library;
    if (!library.Load(error)) return Fail(error);
    if (build->parsed()) return RunScan(library, /*sync=*/false, options, state, nullptr);
    if (sync->parsed()) return RunSync(library, options, state);
    if (stats->parsed()) return RunStats(library, options, state);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    // A save past the file-size limit then fails its write (the library's error 5) instead of
    // the signal ending drivemap without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        drivemap::LocaleTerminalText();  // asked once, before the library runs
        return Run(argc, argv);
    } catch (const std::bad_alloc &) {
        return Fail("out of memory");
    } catch (const std::exception &e) {
        return Fail(e.what());
    }
}
