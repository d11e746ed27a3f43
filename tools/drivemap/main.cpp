// drivemap: configures the emulated Windows machine, loads the drive map library the way a
// Windows program does, and runs one command: build, sync or count the map, ask it questions, or
// tell it of changes.
#include "command_context.h"
#include "drive_map_library.h"
#include "machine_options.h"
#include "map_loading.h"
#include "state_directory.h"
#include "state_lock.h"
#include "text_output.h"

#include <CLI/CLI.hpp>

#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <sstream>
#include <string_view>

namespace drivemap {

namespace {

constexpr const char *kGlobalGroup = "Options of every command";

// Help that shows, below a command's own options, the options every command takes.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App *app, std::string name, CLI::AppFormatMode mode) const override {
        std::string text = CLI::Formatter::make_help(app, name, mode);
        const CLI::App *parent = app->get_parent();
        if (parent == nullptr) return text;
        std::vector<const CLI::Option *> global;
        for (const CLI::Option *option : parent->get_options())
            if (option->get_group() == kGlobalGroup) global.push_back(option);
        return text + make_group(kGlobalGroup, false, global);
    }
};

// Global options that take a value: the word after them is not a command.
bool TakesValue(const std::string &word) {
    for (const char *option : {"--drive", "--prefix", "--platform", "--windows-dir", "--system-dir", "--state"})
        if (word == option) return true;
    return false;
}

// The first word that is neither an option nor an option's value: the command, or "".
std::string CommandWord(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return i + 1 < argc ? argv[i + 1] : "";
        if (word.rfind("-", 0) != 0) return word;
        if (TakesValue(word)) ++i;
    }
    return "";
}

CLI::App *FindCommand(CLI::App &app, const std::string &name) {
    for (CLI::App *command : app.get_subcommands([](CLI::App *) { return true; }))
        if (command->check_name(name)) return command;
    return nullptr;
}

// The help of drivemap or of one command, made printable.
std::string HelpText(const CLI::App &app, const CLI::App *command) {
    const std::string name = command == &app ? "drivemap" : "drivemap " + command->get_name();
    return Printable(command->get_formatter()->make_help(command, name, CLI::AppFormatMode::Normal),
                     LocaleTerminalText(), /*keepNewlines=*/true);
}

int Run(int argc, char **argv) {
    CLI::App app{"drivemap: builds the drive map of a machine and answers questions from it", "drivemap"};
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("--help", "print this help and exit");
    app.set_version_flag("--version", std::string("drivemap ") + PWDVMP32_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // the options below may also follow the command
    app.option_defaults()->group(kGlobalGroup);

    Options options;
    app.add_option("--drive", options.drives,
                   "map a drive explicitly: X=DIR[,TYPE], TYPE one of "
                   "fixed, removable, remote, cdrom, ramdisk (repeatable)")
        ->check(CLI::Validator(
            [](std::string &text) {
                std::string error;
                return ParseDriveOption(text, error) ? std::string() : error;
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
    app.add_flag("--classic", options.classic,
                 "work on a second map, kept in the state directory's \"classic\", built by the library's "
                 "default rules (no [Scanning] section: PE32 files, imports in .idata, no console programs)");
    app.add_flag("--json", options.output.json, "print the result as one JSON document");
    app.add_flag("-0,--null", options.output.null, "end each result with a NUL instead of a newline (for xargs -0)");
    app.add_flag("--host", options.output.host, "print paths as the host paths they stand for");
    app.add_flag("-h,--human-readable", options.output.human, "sizes as 1.5K, 20M (the default on a terminal)");
    app.add_flag("--bytes", options.output.bytes, "sizes in bytes (the default otherwise)");
    app.add_flag("-q,--quiet", options.quiet, "no status line during build and sync");
    app.add_flag("-v,--verbose", options.verbose, "after build and sync, list what was left out, not only count it");
    app.option_defaults()->group("Options");  // the commands' own

    CommandTable table;
    AddMapCommands(app, options, table);
    AddQueryCommands(app, options, table);
    AddAnalysisCommands(app, options, table);
    AddChangeCommands(app, options, table);
    CLI::App *help = app.add_subcommand("help", "print the help of drivemap or of a command");
    std::string helpTopic;
    help->add_option("command", helpTopic, "the command");

    // An unknown command gets one line, not the whole usage.
    const std::string word = CommandWord(argc, argv);
    if (!word.empty() && FindCommand(app, word) == nullptr) {
        PrintMessage("unknown command '" + word + "'");
        PrintMessage("`drivemap --help` lists the commands");
        return kExitUsage;
    }

    // After a command, CLI11 takes "-0" for a negative number, a positional argument, because the
    // command itself has no such option: spell it out (not after "--").
    std::vector<char *> arguments(argv, argv + argc);
    static char nullOption[] = "--null";
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i)
        if (std::string_view(argv[i]) == "-0") arguments[i] = nullOption;

    try {
        app.parse(argc, arguments.data());
    } catch (const CLI::CallForHelp &) {
        const auto parsed = app.get_subcommands();
        std::cout << HelpText(app, parsed.empty() ? &app : parsed.front());
        return 0;
    } catch (const CLI::CallForVersion &e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError &e) {
        // The messages may quote the arguments, which may hold any bytes.
        const auto parsed = app.get_subcommands();
        PrintMessage(e.what());
        PrintMessage(parsed.empty() ? "`drivemap --help` lists the commands and options"
                                    : "`drivemap " + parsed.front()->get_name() + " --help` shows its options");
        return kExitUsage;
    }
    options.json = options.output.json;

    if (help->parsed()) {
        CLI::App *topic = helpTopic.empty() ? &app : FindCommand(app, helpTopic);
        if (topic == nullptr) {
            PrintMessage("unknown command '" + helpTopic + "'");
            return kExitUsage;
        }
        std::cout << HelpText(app, topic);
        return 0;
    }
    const auto chosen = std::find_if(table.begin(), table.end(), [](const Command &c) { return c.app->parsed(); });
    const Command &command = *chosen;
    const bool writes = command.access == CommandAccess::kChangesMap || command.access == CommandAccess::kScans;

    // Commands that only read never create the state directory or write into it.
    std::string error;
    const std::string stateArgument =
        (options.stateDir.empty() ? DefaultStateDirectory() : options.stateDir) + (options.classic ? "/classic" : "");
    std::optional<std::string> stateDir =
        writes ? PrepareStateDirectory(stateArgument, options.classic, error) : ExistingStateDirectory(stateArgument);
    if (!stateDir && writes) return Fail(error, kExitUsage);
    const std::string buildCommand = CommandLineFor(options, "build");
    if (!stateDir && command.access == CommandAccess::kReadsMap)
        return Fail("no map in " + stateArgument + " yet: `" + buildCommand + "` builds it");
    if (!stateDir) stateDir = std::filesystem::absolute(stateArgument).lexically_normal().string();

    MachineConfig config;
    std::vector<std::string> warnings;
    std::optional<std::string> programDir;
    if (!BuildMachineConfig(options, config, error, warnings) ||
        !(programDir = PlaceProgramDirectory(config, *stateDir, error)))
        return Fail(error, kExitUsage);
    for (const auto &warning : warnings) PrintMessage("warning: " + warning);
    config.program = *programDir + (programDir->back() == '\\' ? "" : "\\") + "DRIVEMAP.EXE";
    const StatePlace state{*stateDir};
    ResultWriter out(options.output);
    LibraryExports exports;
    CommandContext context{options, state, config, exports, out, buildCommand, nullptr};
    if (command.access == CommandAccess::kMachine) return command.run(context);
    if (!ApplyMachineConfig(config, error)) return Fail(error, kExitUsage);

    // Writers hold the state directory's lock from before the load to after the save.
    StateLock lock;
    if (writes) {
        const auto onWait = [&] {
            PrintMessage("another drivemap is writing the map in " + state.hostDir + "; waiting for it to finish");
        };
        if (!lock.Acquire(state.hostDir, onWait, error)) return Fail(error);
    }
    int exitCode = 0;
    if (command.access == CommandAccess::kScans && !MapFilePlaceIsFree(state, exitCode)) return exitCode;

    DriveMapLibrary library;
    if (!library.Load(error) || !exports.Resolve(library, error)) return Fail(error);
    if (command.access == CommandAccess::kScans) return command.run(context);

    LoadedMap map;
    if (!LoadMap(exports, state, buildCommand, map, exitCode)) return exitCode;
    if (map.Damaged()) WarnDamage(state, map);
    context.loaded = &map;
    if (!writes) library.LeaveToExit();
    return command.run(context);
}

}  // namespace
}  // namespace drivemap

int main(int argc, char **argv) {
    // A save past the file-size limit then fails its write (the library's error 5) instead of
    // the signal ending drivemap without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#ifdef M_MMAP_THRESHOLD
    // Blocks of a megabyte or more (a large directory's listing, a sync's snapshot) come from the
    // system and go back to it when freed. By default the first such block freed raises the bar to
    // its size, and every later block below it stays in the heap for the rest of the run.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
#ifdef M_TRIM_THRESHOLD
    // Memory freed at the top of a heap stays for the next listing rather than going back to the
    // system at 128 KB: on some virtual machines a page's first touch costs more than filling it.
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
    try {
        drivemap::LocaleTerminalText();  // asked once, before the library runs
        return drivemap::Run(argc, argv);
    } catch (const std::bad_alloc &) {
        return drivemap::Fail("out of memory");
    } catch (const std::exception &e) {
        return drivemap::Fail(e.what());
    }
}
