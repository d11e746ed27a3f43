// drivemap's change commands: they tell the loaded map of files deleted, changed, used and moved
// through the library's change exports, then save the map when it changed.
#include "command_context.h"
#include "map_loading.h"
#include "pwdvmp32_errors.h"
#include "text_output.h"

#include <cstdint>
#include <strings.h>

namespace drivemap {
namespace {

struct ChangeArguments {
    std::vector<std::string> paths;
    std::string usePath;
    uint32_t count = 1;
} changeArguments;

// What one change did: the Windows paths it names, and the library's result and error.
struct ChangeOutcome {
    std::vector<std::string> paths;
    bool done = false;
    DWORD code = 0;
};

// Refuses to change a map that lost blocks when it was loaded: saving it would make the loss
// permanent, with no word to the next reader.
bool MayChange(const CommandContext &context, int &exitCode) {
    if (!context.loaded->Damaged() || context.options.force) return true;
    exitCode = Fail("not changed: saving this map would drop for good what the damaged file held beyond it; `" +
                        context.buildCommand + "` makes a new map, --force changes it anyway",
                    kExitDamaged);
    return false;
}

// The paths as Windows paths; false after a usage error.
bool WindowsPaths(const CommandContext &context, const std::vector<std::string> &arguments,
                  std::vector<std::string> &paths, int &exitCode) {
    for (const auto &argument : arguments) {
        std::string error;
        auto path = WindowsPathArgument(argument, context.machine, error);
        if (!path) {
            exitCode = Fail(error, kExitUsage);
            return false;
        }
        paths.push_back(*path);
    }
    return true;
}

// Reports the outcomes (a line on stderr per refused change; with --json one document), saves the
// map when it changed, and gives the exit code: 0 when every change was made.
int Finish(CommandContext &context, const char *verb, const std::vector<ChangeOutcome> &outcomes) {
    bool allDone = true;
    nlohmann::json changes = nlohmann::json::array();
    for (const auto &outcome : outcomes) {
        allDone = allDone && outcome.done;
        nlohmann::json item = {{"done", outcome.done}};
        context.out.AddPath(item, outcome.paths[0]);
        if (outcome.paths.size() > 1) context.out.AddPath(item, outcome.paths[1], "newPath");
        if (!outcome.done) item["error"] = {{"code", outcome.code}, {"text", DriveMapErrorText(outcome.code)}};
        changes.push_back(item);
        if (outcome.done) continue;
        // The library's "not found" of a use: nothing of that name in the map or on the disk.
        const std::string why = outcome.code == DRIVEMAP_OK
                                    ? "it is neither in the map nor on the disk"
                                    : "error " + std::to_string(outcome.code) + ": " + DriveMapErrorText(outcome.code);
        PrintMessage(context.out.Shown(outcome.paths[0]) + ": not " + verb + ": " + why);
    }
    const bool changed = context.library.GetDirtyFlag() != 0;
    if (!SaveIfChanged(context)) return kExitLibraryError;
    if (context.out.Json()) context.out.PrintJson({{"changes", changes}, {"saved", changed}});
    return allDone ? kExitFound : kExitLibraryError;
}

// Runs `change` on each PATH argument.
int ChangeEach(CommandContext &context, const char *verb, BOOL(WINAPI *change)(DWORD, LPCSTR)) {
    int exitCode = 0;
    std::vector<std::string> paths;
    if (!MayChange(context, exitCode) || !WindowsPaths(context, changeArguments.paths, paths, exitCode))
        return exitCode;
    std::vector<ChangeOutcome> outcomes;
    for (const auto &path : paths) {
        const bool done = change(0, path.c_str()) != 0;
        outcomes.push_back({{path}, done, done ? 0 : context.library.GetError()});
    }
    return Finish(context, verb, outcomes);
}

int RunUse(CommandContext &context) {
    int exitCode = 0;
    std::vector<std::string> paths;
    if (!MayChange(context, exitCode) || !WindowsPaths(context, {changeArguments.usePath}, paths, exitCode))
        return exitCode;
    const bool done = context.library.IncrementEntryUsageCount(0, paths[0].c_str(), changeArguments.count) != 0;
    return Finish(context, "counted", {{paths, done, done ? 0 : context.library.GetError()}});
}

int RunMove(CommandContext &context) {
    int exitCode = 0;
    std::vector<std::string> paths;
    if (!MayChange(context, exitCode) || !WindowsPaths(context, changeArguments.paths, paths, exitCode))
        return exitCode;
    const bool done = context.library.Move(paths[1].c_str(), paths[0].c_str()) != 0;
    // The record moves with its name: the library moves records between directories, it does not
    // rename them.
    const auto name = [](const std::string &path) { return path.substr(path.find_last_of('\\') + 1); };
    if (done && strcasecmp(name(paths[0]).c_str(), name(paths[1]).c_str()) != 0)
        PrintMessage("note: the record keeps its name " + name(paths[0]) +
                     "; for a rename, `drivemap delete` the old path " + "and `drivemap update` the new one");
    return Finish(context, "moved", {{paths, done, done ? 0 : context.library.GetError()}});
}

}  // namespace

void AddChangeCommands(CLI::App &app, Options &options, CommandTable &table) {
    auto force = [&](CLI::App *command) {
        command->add_flag("--force", options.force,
                          "change even a map whose file was damaged (blocks dropped on loading)");
    };
    CLI::App *remove =
        app.add_subcommand("delete", "remove files or directories (with everything below them) from the map");
    remove->add_option("PATH", changeArguments.paths, "a file or directory the map holds")->required();
    force(remove);
    table.push_back({remove, CommandAccess::kChangesMap,
                     [](CommandContext &c) { return ChangeEach(c, "deleted", c.library.DeleteEntry); }});

    CLI::App *update = app.add_subcommand(
        "update", "bring files' records up to date with the disk, adding those the map does not hold yet");
    update->add_option("PATH", changeArguments.paths, "a file")->required();
    force(update);
    table.push_back({update, CommandAccess::kChangesMap,
                     [](CommandContext &c) { return ChangeEach(c, "updated", c.library.UpdateEntry); }});

    CLI::App *use = app.add_subcommand("use", "count uses of a file: its usage count goes up, its last use is now");
    use->add_option("PATH", changeArguments.usePath, "a file the map holds")->required();
    use->add_option("COUNT", changeArguments.count,
                    "how many uses, 0 to 65535 (default 1; 0 only stamps the use; the count wraps at 65,536)")
        ->check(CLI::Range(0u, 65535u));
    force(use);
    table.push_back({use, CommandAccess::kChangesMap, RunUse});

    CLI::App *move = app.add_subcommand("move", "record that a file or directory was moved or renamed");
    move->add_option("OLD NEW", changeArguments.paths, "where it was and where it is now")->required()->expected(2);
    force(move);
    table.push_back({move, CommandAccess::kChangesMap, RunMove});
}

}  // namespace drivemap
