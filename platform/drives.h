// The drive table of the emulated machine (drives.cpp): which letters are drives, where their roots
// lie on the host, which drive is current and each drive's current directory.
#pragma once

#include "win32.h"

#include <sys/types.h>

#include <string>

namespace host {

struct DriveInfo {
    char chLetter;            // upper case
    UINT uType;               // DRIVE_FIXED, ... (DRIVE_FIXED for a substituted drive)
    bool bHasMedium;          // false: mapped without a host directory
    std::string hostRoot;     // canonical host directory of the root ("" without medium)
    dev_t rootDev;            // the drive's file system
    bool bDosAttributes;      // mapped with HOST_DRIVE_DOS_ATTRIBUTES
    std::string substTarget;  // full Windows path the letter stands for ("" when not substituted)
};

// Fills *out for a mapped or substituted drive; false for a letter that is no drive.
bool LookupDrive(char letter, DriveInfo *out);
bool IsMappedDrive(char letter);  // mapped or substituted
bool IsSubstitutedDrive(char letter);

// Makes the letter a substituted drive standing for `target` (a normalised full Windows path).
void SubstituteDrive(char letter, const std::string &target);

// The current drive: C until a drive is mapped, then the first drive mapped after a reset, then
// whatever SelectCurrentDrive chose.
char CurrentDrive();
void SelectCurrentDrive(char letter);

// A drive's current directory as its full Windows path ("X:\\A\\B", "X:\\" for the root), and
// setting it ("" or a root: the root). A drive mapped again starts at its root.
std::string CurrentDirectoryOf(char letter);
void SetCurrentDirectoryOf(char letter, const std::string &path);

void ResetDrives();  // no drives, no current directories

}  // namespace host
