// The emulated Windows machine that drivemap configures before it loads the library: which host
// directories are which drive letters, the platform, the Windows and System directories, PATH.
#pragma once

#include "win32.h"

#include <optional>
#include <string>
#include <vector>

namespace drivemap {

struct DriveMapping {
    char letter;           // upper case
    unsigned type;         // GetDriveTypeA type: DRIVE_FIXED, DRIVE_REMOVABLE, ...
    std::string hostDir;   // the drive's root on the host
};

struct MachineConfig {
    std::vector<DriveMapping> drives;
    unsigned long version = 0x05650004;  // what GetVersion returns (NT 4.0)
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\SYSTEM32";
    std::string path;      // the PATH variable, as Windows paths
};

// The local disk file systems of this host, in mount order: the root file system first, then
// every further mounted block-device file system (no pseudo, memory or network file systems, no
// second mount of a file system already listed). Read from `mountinfoPath`.
std::vector<std::string> LocalDiskMountPoints(const std::string &mountinfoPath = "/proc/self/mountinfo");

// This host as a machine: C: is the root file system, further local disks get D:, E:, ...; PATH
// is the host's PATH with every directory that lies on a mapped drive written as a Windows path.
MachineConfig HostMachineConfig(const std::vector<std::string> &mountPoints, const std::string &hostPath);

// A colon-separated host PATH as a semicolon-separated Windows one; directories that lie on no
// drive are left out.
std::string WindowsPathList(const std::string &hostPath, const std::vector<DriveMapping> &drives);

// "X=DIR[,TYPE]" with TYPE one of fixed, removable, remote, cdrom, ramdisk (default fixed).
// Returns nothing and sets `error` when the text is not of that form.
std::optional<DriveMapping> ParseDriveOption(const std::string &text, std::string &error);

// Platform names "nt", "95", "win32s" to GetVersion values; nothing for another name.
std::optional<unsigned long> VersionForPlatform(const std::string &name);
const char *PlatformName(unsigned long version);
const char *DriveTypeName(unsigned type);

// The Windows spelling of a host path on one of the drives (longest root wins), or nothing.
std::optional<std::string> WindowsPathOf(const std::string &hostPath, const std::vector<DriveMapping> &drives);

// Describe the machine to the host layer: HostMachine_Reset, then drives, version, directories,
// PATH. Returns false, with `error` set, if the host layer refuses a drive.
bool ApplyMachineConfig(const MachineConfig &config, std::string &error);

}  // namespace drivemap
