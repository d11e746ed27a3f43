#include "machine_options.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <strings.h>

namespace drivemap {
namespace {

// Whether host directory `inner` is `outer` or lies below it.
bool Contains(const std::string &outer, const std::string &inner) {
    std::string prefix = outer;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    return inner == outer || inner.rfind(prefix, 0) == 0;
}

std::string ShellWord(const std::string &word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./=,:") ==
            std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string WithoutDuplicateDirectories(const std::string &path) {
    std::vector<std::string> kept;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        std::string item = path.substr(start, end - start);
        std::string key = item;
        while (key.size() > 3 && key.back() == '\\') key.pop_back();
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const std::string &k) {
            std::string other = k;
            while (other.size() > 3 && other.back() == '\\') other.pop_back();
            return strcasecmp(other.c_str(), key.c_str()) == 0;
        });
        if (!item.empty() && !seen) kept.push_back(item);
        start = end + 1;
    }
    std::string joined;
    for (const auto &item : kept) joined += (joined.empty() ? "" : ";") + item;
    return joined;
}

bool BuildMachineConfig(const Options &options, MachineConfig &config, std::string &error,
                        std::vector<std::string> &warnings) {
    const char *hostPath = std::getenv("PATH");
    if (!options.prefix.empty()) {
        auto prefix = PrefixMachineConfig(options.prefix, error);
        if (!prefix) return false;
        config = *prefix;
    } else if (options.drives.empty()) {
        config = HostMachineConfig(LocalDiskMountPoints(), hostPath ? hostPath : "");
    }
    // --drive adds drives to a prefix's, or replaces its drive of the same letter.
    std::set<char> given;
    for (const auto &text : options.drives) {
        auto drive = ParseDriveOption(text, error);
        if (!drive) return false;
        std::error_code ec;
        if (!std::filesystem::is_directory(drive->hostDir, ec)) {
            error = std::string("--drive ") + drive->letter + ": " + drive->hostDir + " is not a directory";
            return false;
        }
        if (!given.insert(drive->letter).second) {
            error = std::string("--drive: ") + drive->letter + ": is given twice";
            return false;
        }
        std::erase_if(config.drives, [&](auto &d) { return d.letter == drive->letter; });
        config.drives.push_back(*drive);
    }
    for (size_t i = 0; i < config.drives.size(); ++i)
        for (size_t j = i + 1; j < config.drives.size(); ++j) {
            const auto &a = config.drives[i], &b = config.drives[j];
            if (a.type == DRIVE_FIXED && b.type == DRIVE_FIXED &&
                (Contains(a.hostDir, b.hostDir) || Contains(b.hostDir, a.hostDir)))
                warnings.push_back(std::string("drives ") + a.letter + ": (" + a.hostDir + ") and " + b.letter + ": (" +
                                   b.hostDir + ") overlap: the files in both are mapped twice");
        }
    // PATH keeps the host directories that lie on the chosen drives.
    if (options.prefix.empty() && !options.drives.empty())
        config.path = WindowsPathList(hostPath ? hostPath : "", config.drives);
    config.path = WithoutDuplicateDirectories(config.path);
    if (!options.platform.empty()) config.version = *VersionForPlatform(options.platform);
    if (!options.windowsDir.empty()) config.windowsDir = options.windowsDir;
    if (!options.systemDir.empty()) config.systemDir = options.systemDir;
    return true;
}

std::string CommandLineFor(const Options &options, const std::string &command) {
    std::string line = "drivemap";
    if (!options.prefix.empty()) line += " --prefix " + ShellWord(options.prefix);
    for (const auto &drive : options.drives) line += " --drive " + ShellWord(drive);
    if (!options.platform.empty()) line += " --platform " + options.platform;
    if (!options.windowsDir.empty()) line += " --windows-dir " + ShellWord(options.windowsDir);
    if (!options.systemDir.empty()) line += " --system-dir " + ShellWord(options.systemDir);
    if (!options.stateDir.empty()) line += " --state " + ShellWord(options.stateDir);
    if (options.classic) line += " --classic";
    return line + " " + command;
}

}  // namespace drivemap
