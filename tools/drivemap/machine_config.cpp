#include "machine_config.h"

#include "host_machine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>

namespace drivemap {
namespace {

// File systems that live on a local block device. Everything else (proc, tmpfs, overlay of a
// container's upper layer, nfs, fuse, ...) is not a local hard disk.
const std::set<std::string> kDiskFileSystems = {
    "ext2",  "ext3",  "ext4", "xfs",   "btrfs",   "f2fs", "jfs",    "reiserfs", "vfat",
    "msdos", "exfat", "ntfs", "ntfs3", "hfsplus", "zfs",  "nilfs2", "bcachefs",
};

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string &field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; ++k) {
                const char c = field[i + k];
                if (c < '0' || c > '7') octal = false;
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool IsDirectory(const std::string &path, dev_t *device) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (device) *device = st.st_dev;
    return true;
}

bool SameFileSystem(const std::string &a, const std::string &b) {
    dev_t deviceA, deviceB;
    return IsDirectory(a, &deviceA) && IsDirectory(b, &deviceB) && deviceA == deviceB;
}

bool IsWithin(const std::filesystem::path &path, const std::filesystem::path &root) {
    const std::string r = root.string(), p = path.string();
    return r == "/" || p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '/');
}

// The name of the entry of `dir` that is `name` ignoring case (an exact match first); `name` itself
// when there is none.
std::string SpellingOnDisk(const std::filesystem::path &dir, const std::string &name) {
    std::string found;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry == name) return entry;
        if (found.empty() && strcasecmp(entry.c_str(), name.c_str()) == 0) found = entry;
    }
    return found.empty() ? name : found;
}

}  // namespace

std::vector<std::string> LocalDiskMountPoints(const std::string &mountinfoPath) {
    std::vector<std::string> points{"/"};
    std::set<dev_t> devices;
    dev_t rootDevice;
    if (IsDirectory("/", &rootDevice)) devices.insert(rootDevice);

    std::ifstream in(mountinfoPath);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - fstype source super-options
        std::istringstream fields(line);
        std::string id, parent, majorMinor, root, mountPoint, options, word;
        fields >> id >> parent >> majorMinor >> root >> mountPoint >> options;
        while (fields >> word && word != "-") {}
        std::string fsType, source;
        fields >> fsType >> source;
        mountPoint = Unescape(mountPoint);
        if (word != "-" || mountPoint == "/" || root != "/") continue;
        if (!kDiskFileSystems.count(fsType) || source.rfind("/dev/", 0) != 0) continue;
        dev_t device;
        if (!IsDirectory(mountPoint, &device) || !devices.insert(device).second) continue;
        points.push_back(mountPoint);
    }
    return points;
}

MachineConfig HostMachineConfig(const std::vector<std::string> &mountPoints, const std::string &hostPath) {
    MachineConfig config;
    char letter = 'C';
    for (const auto &point : mountPoints) {
        if (letter > 'Z') break;
        config.drives.push_back({letter++, DRIVE_FIXED, point});
    }
    config.path = WindowsPathList(hostPath, config.drives);
    return config;
}

std::string WindowsPathList(const std::string &hostPath, const std::vector<DriveMapping> &drives) {
    std::string list;
    std::istringstream items(hostPath);
    std::string item;
    while (std::getline(items, item, ':')) {
        auto translated = item.empty() ? std::nullopt : WindowsPathOf(item, drives);
        if (!translated) continue;
        if (!list.empty()) list += ';';
        list += *translated;
    }
    return list;
}

std::optional<DriveMapping> ParseDriveOption(const std::string &text, std::string &error) {
    const size_t equals = text.find('=');
    if (equals != 1 || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        error = "expected X=DIR[,TYPE], got '" + text + "'";
        return std::nullopt;
    }
    DriveMapping drive{static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))), DRIVE_FIXED, ""};
    std::string rest = text.substr(2);
    const size_t comma = rest.rfind(',');
    if (comma != std::string::npos) {
        const std::string type = rest.substr(comma + 1);
        static const std::pair<const char *, unsigned> kTypes[] = {{"fixed", DRIVE_FIXED},
                                                                   {"removable", DRIVE_REMOVABLE},
                                                                   {"remote", DRIVE_REMOTE},
                                                                   {"cdrom", DRIVE_CDROM},
                                                                   {"ramdisk", DRIVE_RAMDISK}};
        auto it = std::find_if(std::begin(kTypes), std::end(kTypes), [&](auto &t) { return type == t.first; });
        if (it == std::end(kTypes)) {
            error = "unknown drive type '" + type + "' (fixed, removable, remote, cdrom, ramdisk)";
            return std::nullopt;
        }
        drive.type = it->second;
        rest = rest.substr(0, comma);
    }
    if (rest.empty()) {
        error = "drive " + std::string(1, drive.letter) + ": has no directory";
        return std::nullopt;
    }
    drive.hostDir = rest;
    return drive;
}

std::optional<unsigned long> VersionForPlatform(const std::string &name) {
    if (name == "nt") return 0x05650004UL;
    if (name == "95") return 0xC3B60004UL;
    if (name == "win32s") return 0x80000003UL;
    return std::nullopt;
}

const char *PlatformName(unsigned long version) {
    if (!(version & 0x80000000UL)) return "nt";
    return (version & 0xFF) < 4 ? "win32s" : "95";
}

const char *DriveTypeName(unsigned type) {
    switch (type) {
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_REMOTE: return "remote";
    case DRIVE_CDROM: return "cdrom";
    case DRIVE_RAMDISK: return "ramdisk";
    default: return "unknown";
    }
}

std::optional<std::string> WindowsPathOf(const std::string &hostPath, const std::vector<DriveMapping> &drives) {
    const DriveMapping *best = nullptr;
    size_t bestLength = 0;
    for (const auto &drive : drives) {
        std::string root = drive.hostDir;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        const bool under = root == "/" ? hostPath[0] == '/'
                                       : hostPath.compare(0, root.size(), root) == 0 &&
                                             (hostPath.size() == root.size() || hostPath[root.size()] == '/');
        if (under && (!best || root.size() > bestLength)) {
            best = &drive;
            bestLength = root.size();
        }
    }
    if (!best) return std::nullopt;
    std::string rest =
        bestLength == 1 ? hostPath.substr(1) : hostPath.substr(std::min(hostPath.size(), bestLength + 1));
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return std::string(1, best->letter) + ":\\" + rest;
}

std::optional<MachineConfig> PrefixMachineConfig(const std::string &prefix, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = fs::canonical(prefix, ec);
    const fs::path devices = root / "dosdevices";
    if (ec || !fs::is_directory(devices, ec)) {
        error = "'" + prefix + "' is not a prefix: it has no dosdevices directory";
        return std::nullopt;
    }
    MachineConfig config;
    config.version = 0x05650004UL;
    for (auto it = fs::directory_iterator(devices, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // Only "x:" names a drive: "x::" is the drive's raw device, "com1" and the like are ports.
        const std::string name = it->path().filename().string();
        if (name.size() != 2 || name[1] != ':' || !std::isalpha(static_cast<unsigned char>(name[0]))) continue;
        std::error_code linkError;
        const fs::path target = fs::canonical(it->path(), linkError);  // relative targets resolve from dosdevices
        if (linkError || !fs::is_directory(target, linkError)) continue;
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        const bool inside = IsWithin(target, root);
        config.drives.push_back(
            {letter, inside ? unsigned{DRIVE_FIXED} : unsigned{DRIVE_REMOTE}, target.string(), inside});
    }
    if (config.drives.empty()) {
        error = "prefix '" + prefix + "' has no drives in its dosdevices directory";
        return std::nullopt;
    }
    std::sort(config.drives.begin(), config.drives.end(), [](auto &a, auto &b) { return a.letter < b.letter; });

    std::string windows = "windows", system = "system32";
    auto c = std::find_if(config.drives.begin(), config.drives.end(), [](auto &d) { return d.letter == 'C'; });
    if (c != config.drives.end()) {
        windows = SpellingOnDisk(c->hostDir, windows);
        system = SpellingOnDisk(fs::path(c->hostDir) / windows, system);
    }
    config.windowsDir = "C:\\" + windows;
    config.systemDir = config.windowsDir + "\\" + system;
    config.path = config.systemDir + ";" + config.windowsDir;
    return config;
}

std::optional<std::string> PlaceProgramDirectory(MachineConfig &config, const std::string &hostDir,
                                                 std::string &error) {
    if (auto path = WindowsPathOf(hostDir, config.drives)) {
        auto drive =
            std::find_if(config.drives.begin(), config.drives.end(), [&](auto &d) { return d.letter == (*path)[0]; });
        if (drive->type != DRIVE_REMOTE && SameFileSystem(drive->hostDir, hostDir)) return path;
    }
    for (char letter = 'Z'; letter >= 'A'; --letter) {
        if (std::none_of(config.drives.begin(), config.drives.end(), [&](auto &d) { return d.letter == letter; })) {
            config.drives.push_back({letter, DRIVE_REMOVABLE, hostDir});
            return std::string(1, letter) + ":\\";
        }
    }
    error = "no free drive letter for the program directory " + hostDir;
    return std::nullopt;
}

bool ApplyMachineConfig(const MachineConfig &config, std::string &error) {
    HostMachine_Reset();
    for (const auto &drive : config.drives) {
        const unsigned type = drive.type | (drive.dosAttributes ? HOST_DRIVE_DOS_ATTRIBUTES : 0u);
        if (!HostMachine_MapDrive(drive.letter, type, drive.hostDir.c_str())) {
            error = "cannot map drive " + std::string(1, drive.letter) + ": to " + drive.hostDir;
            return false;
        }
    }
    HostMachine_SetVersion(config.version);
    HostMachine_SetWindowsDirectory(config.windowsDir.c_str());
    HostMachine_SetSystemDirectory(config.systemDir.c_str());
    HostMachine_SetVwin32(!(config.version & 0x80000000UL) ? 0 : (config.version & 0xFF) >= 4);
    if (!config.path.empty()) SetEnvironmentVariableA("PATH", config.path.c_str());
    if (!config.program.empty()) HostMachine_SetModuleFileName(config.program.c_str());
    return true;
}

}  // namespace drivemap
