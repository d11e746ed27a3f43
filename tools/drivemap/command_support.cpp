// What the commands share: PATH arguments as Windows paths, and saving a changed map.
#include "command_context.h"
#include "map_loading.h"

#include <filesystem>

namespace drivemap {

std::optional<std::string> WindowsPathArgument(const std::string &argument, const MachineConfig &machine,
                                               std::string &error) {
    const bool windows = argument.size() >= 2 && std::isalpha(static_cast<unsigned char>(argument[0])) &&
                         argument[1] == ':' && (argument.size() == 2 || argument[2] == '\\' || argument[2] == '/');
    if (windows) {
        std::string path = argument;
        std::replace(path.begin(), path.end(), '/', '\\');
        path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        if (path.size() == 2) path += '\\';
        return path;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::absolute(argument, ec).lexically_normal();
    std::string host = absolute.string();
    if (host.size() > 1 && host.back() == '/') host.pop_back();
    if (auto path = WindowsPathOf(host, machine.drives)) return path;
    // A path through a symbolic link may lie on a drive once the link is followed.
    const fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (!ec)
        if (auto path = WindowsPathOf(resolved.string(), machine.drives)) return path;
    error = argument + " lies on none of the machine's drives (`drivemap machine` lists them)";
    return std::nullopt;
}

bool SaveIfChanged(CommandContext &context) {
    if (context.library.GetDirtyFlag() == 0 || context.library.WriteAll(0, 0)) return true;
    ReportLibraryError(context.library.GetError(), "the change was not saved to " + context.state.MapFile() +
                                                       "; the previous map file, if any, is unchanged");
    return false;
}

}  // namespace drivemap
