// The drive table of the emulated machine: 26 letters, each nothing, a drive on a host directory
// (or without a medium), or a substituted drive standing for a path on another drive.
#include "file_system.h"

#include "host_machine.h"

#include <limits.h>
#include <stdlib.h>

#include <array>

namespace host {
namespace {

struct DriveSlot {
    bool bMapped = false;
    UINT uType = DRIVE_NO_ROOT_DIR;
    bool bHasMedium = false;
    std::string hostRoot;
    dev_t rootDev = 0;
    std::string substTarget;  // non-empty: a substituted drive
};

std::array<DriveSlot, 26> g_drives;

int LetterIndex(char letter) {
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

}  // namespace

std::recursive_mutex &FileSystemLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool LookupDrive(char letter, DriveInfo *out) {
    int index = LetterIndex(letter);
    if (index < 0 || !g_drives[index].bMapped) return false;
    const DriveSlot &slot = g_drives[index];
    out->chLetter = static_cast<char>('A' + index);
    out->uType = slot.substTarget.empty() ? slot.uType : DRIVE_FIXED;
    out->bHasMedium = slot.bHasMedium;
    out->hostRoot = slot.hostRoot;
    out->rootDev = slot.rootDev;
    out->substTarget = slot.substTarget;
    return true;
}

bool IsSubstitutedDrive(char letter) {
    std::lock_guard<std::recursive_mutex> guard(FileSystemLock());
    int index = LetterIndex(letter);
    return index >= 0 && g_drives[index].bMapped && !g_drives[index].substTarget.empty();
}

bool IsMappedDrive(char letter) {
    std::lock_guard<std::recursive_mutex> guard(FileSystemLock());
    int index = LetterIndex(letter);
    return index >= 0 && g_drives[index].bMapped;
}

void ResetFileSystem() {
    std::lock_guard<std::recursive_mutex> guard(FileSystemLock());
    for (DriveSlot &slot : g_drives) slot = DriveSlot();
    ResetCurrentDirectories();
    CloseAllSearches();
    CloseAllFiles();
}

}  // namespace host

using host::g_drives;

extern "C" int HostMachine_MapDrive(char letter, unsigned type, const char *hostDir) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    int index = host::LetterIndex(letter);
    if (index < 0 || type < DRIVE_REMOVABLE || type > DRIVE_RAMDISK) return 0;
    host::DriveSlot slot;
    slot.bMapped = true;
    slot.uType = type;
    if (hostDir != nullptr) {
        // The canonical path, so that resolved host paths never depend on the caller's cwd or on
        // links above the root.
        char canonical[PATH_MAX];
        struct stat st;
        if (realpath(hostDir, canonical) == nullptr || stat(canonical, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
        slot.bHasMedium = true;
        slot.hostRoot = canonical;
        slot.rootDev = st.st_dev;
    }
    g_drives[index] = slot;
    host::DriveMapped(static_cast<char>('A' + index));
    return 1;
}

// The target must be a full path ("X:\\...") on another letter; it need not exist yet. A target on
// a drive that is itself substituted does not resolve (one level of substitution only).
extern "C" int HostMachine_SubstDrive(char letter, const char *target) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    int index = host::LetterIndex(letter);
    if (index < 0 || target == nullptr || host::LetterIndex(target[0]) < 0 || target[1] != ':' ||
        (target[2] != '\\' && target[2] != '/') || host::LetterIndex(target[0]) == index)
        return 0;
    std::string normalised;
    if (host::NormalizeWindowsPath(target, /*followSubst=*/false, /*trimLast=*/true, &normalised) != ERROR_SUCCESS)
        return 0;
    host::DriveSlot slot;
    slot.bMapped = true;
    slot.uType = DRIVE_FIXED;
    slot.bHasMedium = true;
    slot.substTarget = normalised;
    g_drives[index] = slot;
    host::DriveMapped(static_cast<char>('A' + index));
    return 1;
}

// Accepts "X:\\", "X:/", "X:" in either case, and NULL for the current drive.
extern "C" UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    char letter;
    if (lpRootPathName == nullptr) {
        char current[host::kMaxPathChars + 1];
        if (GetCurrentDirectoryA(sizeof current, current) == 0) return DRIVE_NO_ROOT_DIR;
        letter = current[0];
    } else {
        const char *p = lpRootPathName;
        if (host::LetterIndex(p[0]) < 0 || p[1] != ':') return DRIVE_NO_ROOT_DIR;
        if (!(p[2] == '\0' || ((p[2] == '\\' || p[2] == '/') && p[3] == '\0'))) return DRIVE_NO_ROOT_DIR;
        letter = p[0];
    }
    host::DriveInfo drive;
    if (!host::LookupDrive(letter, &drive)) return DRIVE_NO_ROOT_DIR;
    return drive.uType;
}

extern "C" DWORD WINAPI GetLogicalDrives(void) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    DWORD mask = 0;
    for (int i = 0; i < 26; ++i)
        if (g_drives[i].bMapped) mask |= DWORD{1} << i;
    return mask;
}
