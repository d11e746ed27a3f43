// The emulated Windows machine that drivemap configures before it loads the library: which host
// directories are which drive letters, the platform, the Windows and System directories, PATH.
#pragma once

#include "win32.h"

#include <optional>
#include <string>
#include <vector>

namespace drivemap {

struct DriveMapping {
    char letter;                 // upper case
    unsigned type;               // GetDriveTypeA type: DRIVE_FIXED, DRIVE_REMOVABLE, ...
    std::string hostDir;         // the drive's root on the host
    bool dosAttributes = false;  // hidden bits kept in user.DOSATTRIB (HOST_DRIVE_DOS_ATTRIBUTES)
};

struct MachineConfig {
    std::vector<DriveMapping> drives;
    unsigned long version = 0x05650004;  // what GetVersion returns (NT 4.0)
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\SYSTEM32";
    std::string path;     // the PATH variable, as Windows paths
    std::string program;  // the running program's Windows path (GetModuleFileNameA); may be empty
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

// A Wine-style prefix as a machine, platform NT: each link DIR/dosdevices/<x>: is drive X (raw
// device links such as "c::" are skipped). A drive whose target lies inside the prefix is a fixed
// disk that keeps DOS attributes as Wine does; one whose target lies outside it (Wine's z: -> /) is
// the host's own file system, mapped as a network drive so that paths on it resolve but it is never
// scanned. The Windows and System
// directories are C:\windows and C:\windows\system32, spelt as found on disk. Returns nothing and
// sets `error` when DIR has no dosdevices directory or no drive in it.
std::optional<MachineConfig> PrefixMachineConfig(const std::string &prefix, std::string &error);

// The Windows path of the program directory `hostDir` (an absolute, normalised host path). A
// directory that lies on no mapped drive's file system, or only on a network drive, gets a drive
// of its own: the first free letter from Z: downwards, removable, so that it is never scanned and
// the map file stays in it (a program on a network drive would have its map saved in the Windows
// directory). Returns nothing and sets `error` when no letter is free.
std::optional<std::string> PlaceProgramDirectory(MachineConfig &config, const std::string &hostDir, std::string &error);

// Describe the machine to the host layer: HostMachine_Reset, then drives, version, directories,
// PATH, the program's path. Returns false, with `error` set, if the host layer refuses a drive.
bool ApplyMachineConfig(const MachineConfig &config, std::string &error);

}  // namespace drivemap
