// What every drivemap command is given: the options, the state directory, the machine, the
// library's exports and the writer of its results.
#pragma once

#include "library_exports.h"
#include "machine_config.h"
#include "result_writer.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace drivemap {

// Exit codes.
constexpr int kExitFound = 0;          // done; for a query, something was found
constexpr int kExitNothingFound = 1;   // a query found nothing
constexpr int kExitLibraryError = 1;   // the library reported an error, or drivemap could not go on
constexpr int kExitUsage = 2;          // bad arguments, or the machine cannot be set up
constexpr int kExitDamaged = 3;        // the map file is damaged: blocks were dropped when it was loaded
constexpr int kExitInterrupted = 130;  // the scan was stopped by Ctrl-C (128 + SIGINT)

// The options every command takes.
struct Options {
    std::vector<std::string> drives;
    std::string prefix;
    std::string platform;
    std::string windowsDir;
    std::string systemDir;
    std::string stateDir;
    bool classic = false;  // the map of the library's classic rules, in the state directory's "classic"
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool force = false;  // change a map whose file was damaged (blocks dropped on loading)
    OutputOptions output;
};

// The state directory on the host: the emulated program's directory, which holds the map file.
struct StatePlace {
    std::string hostDir;
    std::string MapFile() const { return hostDir + "/PWDRVMAP.DAT"; }
    std::string SettingsFile() const { return hostDir + "/PURGWELL.DAT"; }
};

struct LoadedMap;

struct CommandContext {
    const Options &options;
    const StatePlace &state;
    const MachineConfig &machine;
    const LibraryExports &library;
    ResultWriter &out;
    std::string buildCommand;  // the command line that builds the map, for hints
    const LoadedMap *loaded;   // the map as loaded, for the commands that load it
};

// What a command needs before it runs.
enum class CommandAccess {
    kMachine,     // only the machine: no library, no map
    kReadsMap,    // loads the saved map; never changes it, never creates anything
    kChangesMap,  // loads the saved map under the writer's lock; the command saves what it changed
    kScans,       // build: runs under the writer's lock and saves what it made
};

struct Command {
    CLI::App *app;
    CommandAccess access;
    std::function<int(CommandContext &)> run;
};

using CommandTable = std::vector<Command>;

// Each group of commands adds its subcommands and options to `app` and its entries to `table`.
void AddQueryCommands(CLI::App &app, Options &options, CommandTable &table);  // lookup refs imports find where ls ext
void AddAnalysisCommands(CLI::App &app, Options &options, CommandTable &table);  // du unused missing
void AddChangeCommands(CLI::App &app, Options &options, CommandTable &table);    // delete update use move
void AddMapCommands(CLI::App &app, Options &options, CommandTable &table);       // build sync stats machine

// Saves the map when a change command changed it (the library replaces the map file whole). False
// after reporting the library's error.
bool SaveIfChanged(CommandContext &context);

// A PATH argument as a Windows path of the machine: "X:\..." or "X:/..." as it stands (slashes
// made backslashes), anything else as a host path, made absolute, on one of the drives. Nothing,
// with `error` set, for a host path that lies on no drive.
std::optional<std::string> WindowsPathArgument(const std::string &argument, const MachineConfig &machine,
                                               std::string &error);

}  // namespace drivemap
