// Windows paths on the emulated machine (path_resolution.cpp): their normalised text and the host
// entries they name.
#pragma once

#include "unique_fd.h"
#include "win32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

namespace host {

constexpr size_t kMaxPathChars = 299;  // longest Windows path the file calls accept

using SharedFd = std::shared_ptr<const UniqueFd>;

// The full, normalised Windows path of `path` ("X:\\A\\B", no trailing backslash except on a root),
// combined with the current directories. followSubst rewrites a path on a substituted drive to its
// target; trimLast removes trailing dots and spaces from the last component as Windows does.
// Returns ERROR_SUCCESS or a last-error value.
DWORD NormalizeWindowsPath(const char *path, bool followSubst, bool trimLast, std::string *out);

struct ResolvedPath {
    std::string windowsPath;  // normalised, substitution followed
    std::string hostPath;     // host path of the last component (found or as given)
    std::string name;         // last component as found on disk (as given when it does not exist)
    char chDrive = 0;
    dev_t driveDev = 0;
    bool bDosAttributes = false;  // the drive keeps DOS attributes (HOST_DRIVE_DOS_ATTRIBUTES)
    bool bIsRoot = false;
    bool bExists = false;  // the last component exists (st then holds its lstat)
    struct stat st {};
    SharedFd parent;          // the directory holding the last component (for a root, the root itself)
    struct stat parentSt {};  // its stat, taken on the way (ResolveDirectory only)

    int ParentFd() const { return parent ? parent->Get() : -1; }
    // The entry for the *at() calls: its name in the parent, or a root's own host path.
    int AtDir() const { return bIsRoot ? AT_FDCWD : ParentFd(); }
    const char *AtName() const { return bIsRoot ? hostPath.c_str() : name.c_str(); }
};

// Resolves every component but the last to an existing directory of the drive (exact name, then
// shown name ignoring case, then short name), each opened relative to the one before without
// following a link, and looks the last one up the same way in the last directory, which stays
// open. The directories opened for the last path resolved on each drive are kept, and taken again
// for the same names while each name still leads to the same directory (device and inode). Components holding characters no Windows name can (wildcards among them) are refused
// (ERROR_INVALID_NAME). Returns ERROR_SUCCESS (whether or not the last component exists) or
// ERROR_PATH_NOT_FOUND, ERROR_NOT_READY, ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_NAME, ...
DWORD ResolveWindowsPath(const char *path, ResolvedPath *out);

// ResolveWindowsPath, with ERROR_FILE_NOT_FOUND when the last component does not exist.
DWORD ResolveExistingPath(const char *path, ResolvedPath *out);

// Resolves `path` as a directory: every component, the last one too, opened as above. *dirFd is
// the directory, out->st its fstat, out->parentSt its parent's. ERROR_PATH_NOT_FOUND when it is no
// existing directory.
DWORD ResolveDirectory(const char *path, ResolvedPath *out, SharedFd *dirFd);

// Closes the directories kept for resolutions (HostMachine_Reset).
void ForgetOpenDirectories();

// Win32 string return: the length without the NUL when it fits, else the size needed including the
// NUL, and nothing written.
DWORD ReturnString(const std::string &text, DWORD size, LPSTR buffer);

}  // namespace host
