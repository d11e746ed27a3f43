// drivemap: configures the emulated Windows machine, loads the drive map library the way a
// Windows program does, and runs its main jobs.
#include "machine_config.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

struct Options {
    std::vector<std::string> drives;
    std::string platform;
    std::string windowsDir;
    std::string systemDir;
    bool json = false;
};

bool BuildMachineConfig(const Options &options, drivemap::MachineConfig &config, std::string &error) {
    const char *hostPath = std::getenv("PATH");
    if (options.drives.empty()) {
        config = drivemap::HostMachineConfig(drivemap::LocalDiskMountPoints(), hostPath ? hostPath : "");
    } else {
        for (const auto &text : options.drives) {
            auto drive = drivemap::ParseDriveOption(text, error);
            if (!drive) return false;
            config.drives.push_back(*drive);
        }
        // PATH keeps the host directories that lie on the chosen drives.
        config.path = drivemap::WindowsPathList(hostPath ? hostPath : "", config.drives);
    }
    if (!options.platform.empty()) {
        auto version = drivemap::VersionForPlatform(options.platform);
        if (!version) {
            error = "unknown platform '" + options.platform + "' (nt, 95, win32s)";
            return false;
        }
        config.version = *version;
    }
    if (!options.windowsDir.empty()) config.windowsDir = options.windowsDir;
    if (!options.systemDir.empty()) config.systemDir = options.systemDir;
    return true;
}

void PrintMachine(const drivemap::MachineConfig &config, bool json) {
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
                              {"path", config.path}};
        std::cout << out.dump(2) << "\n";
        return;
    }
    std::cout << "Drives:\n";
    for (const auto &d : config.drives)
        std::printf("  %c:  %-9s  %s\n", d.letter, drivemap::DriveTypeName(d.type), d.hostDir.c_str());
    std::cout << "Platform:          " << drivemap::PlatformName(config.version) << "\n"
              << "Windows directory: " << config.windowsDir << "\n"
              << "System directory:  " << config.systemDir << "\n"
              << "PATH:              " << config.path << "\n";
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"drivemap: builds and queries the drive map of this machine"};
    app.set_version_flag("--version", std::string("drivemap ") + PWDVMP32_VERSION);
    app.require_subcommand(1);

    Options options;
    app.add_option("--drive", options.drives, "map a drive explicitly: X=DIR[,TYPE], TYPE one of "
                                              "fixed, removable, remote, cdrom, ramdisk (repeatable)");
    app.add_option("--platform", options.platform, "the emulated platform: nt, 95 or win32s")
        ->check(CLI::IsMember({"nt", "95", "win32s"}));
    app.add_option("--windows-dir", options.windowsDir, "the Windows directory (a Windows path)");
    app.add_option("--system-dir", options.systemDir, "the System directory (a Windows path)");
    app.add_flag("--json", options.json, "print results as JSON");

    CLI::App *machine = app.add_subcommand("machine", "show the emulated machine drivemap would use");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    }

    drivemap::MachineConfig config;
    std::string error;
    if (!BuildMachineConfig(options, config, error) || !drivemap::ApplyMachineConfig(config, error)) {
        std::cerr << "drivemap: " << error << "\n";
        return 2;
    }
    if (machine->parsed()) PrintMachine(config, options.json);
    return 0;
}
