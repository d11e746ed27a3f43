// The drive table of the emulated machine: 26 letters, each nothing, a drive on a host directory
// (or without a medium), or a substituted drive standing for a path on another drive; and the
// current drive and each drive's current directory, which belong to the letters.
#include "drives.h"

#include "file_system_lock.h"
#include "host_errors.h"
#include "host_machine.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <array>

namespace host {
namespace {

struct DriveSlot {
    bool bMapped = false;
    UINT uType = DRIVE_NO_ROOT_DIR;
    bool bHasMedium = false;
    std::string hostRoot;
    dev_t rootDev = 0;
    bool bDosAttributes = false;
    std::string substTarget;  // non-empty: a substituted drive
    std::string currentDir;   // as the caller spelled it ("X:\\A\\B"); empty means the root
};

std::array<DriveSlot, 26> g_drives;
char g_currentDrive = 'C';
bool g_currentDriveChosen = false;

int LetterIndex(char letter) {
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    return -1;
}

// The letter became a drive (again): it starts at its root, and the first drive mapped after a
// reset becomes current.
void InstallDrive(int index, const DriveSlot &slot) {
    g_drives[index] = slot;
    if (!g_currentDriveChosen) {
        g_currentDrive = static_cast<char>('A' + index);
        g_currentDriveChosen = true;
    }
}

}  // namespace

bool LookupDrive(char letter, DriveInfo *out) {
    int index = LetterIndex(letter);
    if (index < 0 || !g_drives[index].bMapped) return false;
    const DriveSlot &slot = g_drives[index];
    out->chLetter = static_cast<char>('A' + index);
    out->uType = slot.substTarget.empty() ? slot.uType : DRIVE_FIXED;
    out->bHasMedium = slot.bHasMedium;
    out->hostRoot = slot.hostRoot;
    out->rootDev = slot.rootDev;
    out->bDosAttributes = slot.bDosAttributes;
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

void SubstituteDrive(char letter, const std::string &target) {
    DriveSlot slot;
    slot.bMapped = true;
    slot.uType = DRIVE_FIXED;
    slot.bHasMedium = true;
    slot.substTarget = target;
    InstallDrive(LetterIndex(letter), slot);
}

char CurrentDrive() { return g_currentDrive; }

void SelectCurrentDrive(char letter) {
    g_currentDrive = static_cast<char>('A' + LetterIndex(letter));
    g_currentDriveChosen = true;
}

std::string CurrentDirectoryOf(char letter) {
    int index = LetterIndex(letter);
    const std::string &dir = g_drives[index].currentDir;
    if (!dir.empty()) return dir;
    return std::string(1, static_cast<char>('A' + index)) + ":\\";
}

void SetCurrentDirectoryOf(char letter, const std::string &path) {
    g_drives[LetterIndex(letter)].currentDir = path.size() <= 3 ? std::string() : path;
}

void ResetDrives() {
    std::lock_guard<std::recursive_mutex> guard(FileSystemLock());
    for (DriveSlot &slot : g_drives) slot = DriveSlot();
    g_currentDrive = 'C';
    g_currentDriveChosen = false;
}

}  // namespace host

using host::g_drives;

extern "C" int HostMachine_MapDrive(char letter, unsigned type, const char *hostDir) {
    return host::Guarded<int>(0, [&]() -> int {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        int index = host::LetterIndex(letter);
        const bool dosAttributes = (type & HOST_DRIVE_DOS_ATTRIBUTES) != 0;
        type &= ~static_cast<unsigned>(HOST_DRIVE_DOS_ATTRIBUTES);
        if (index < 0 || type < DRIVE_REMOVABLE || type > DRIVE_RAMDISK) return 0;
        host::DriveSlot slot;
        slot.bMapped = true;
        slot.uType = type;
        slot.bDosAttributes = dosAttributes;
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
        host::InstallDrive(index, slot);
        return 1;
    });
}

// Accepts "X:\\", "X:/", "X:" in either case, and NULL for the current drive.
extern "C" UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    return host::Guarded<UINT>(DRIVE_UNKNOWN, [&]() -> UINT {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        char letter = host::g_currentDrive;
        if (lpRootPathName != nullptr) {
            const char *p = lpRootPathName;
            if (host::LetterIndex(p[0]) < 0 || p[1] != ':') return DRIVE_NO_ROOT_DIR;
            if (!(p[2] == '\0' || ((p[2] == '\\' || p[2] == '/') && p[3] == '\0'))) return DRIVE_NO_ROOT_DIR;
            letter = p[0];
        }
        host::DriveInfo drive;
        if (!host::LookupDrive(letter, &drive)) return DRIVE_NO_ROOT_DIR;
        return drive.uType;
    });
}

extern "C" DWORD WINAPI GetLogicalDrives(void) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    DWORD mask = 0;
    for (int i = 0; i < 26; ++i)
        if (g_drives[i].bMapped) mask |= DWORD{1} << i;
    return mask;
}
