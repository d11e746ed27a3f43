// Internal interface between the file-system modules of the host layer: the drive table, path
// resolution, short names, directory listings, attributes, searches and file handles.
#pragma once

// Sizes and times of large files must survive on i386 too; every file that includes this header
// includes it first, so that struct stat is the same 64-bit one in all of them.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "host_internal.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

namespace host {

constexpr size_t kMaxPathChars = 299;  // longest Windows path the file calls accept
constexpr size_t kMaxNameBytes = 259;  // longest name a directory listing reports

// One lock for the whole emulated file system; every Win32 entry point of these modules holds it.
std::recursive_mutex &FileSystemLock();

// ---- drives.cpp ------------------------------------------------------------------------------
struct DriveInfo {
    char chLetter;            // upper case
    UINT uType;               // DRIVE_FIXED, ... (DRIVE_FIXED for a substituted drive)
    bool bHasMedium;          // false: mapped without a host directory
    std::string hostRoot;     // canonical host directory of the root ("" without medium)
    dev_t rootDev;            // the drive's file system
    std::string substTarget;  // full Windows path the letter stands for ("" when not substituted)
};

// Fills *out for a mapped or substituted drive; false for a letter that is no drive.
bool LookupDrive(char letter, DriveInfo *out);

// ---- path_resolution.cpp ---------------------------------------------------------------------
// Hooks the drive table calls.
void ResetCurrentDirectories();
void DriveMapped(char letter);  // the letter became a drive (again): its current directory is its root

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
    bool bIsRoot = false;
    bool bExists = false;  // the last component exists (st then holds its lstat)
    struct stat st {};
};

// Resolves every component but the last to an existing directory of the drive (exact name, then
// case-insensitive, then short name) and looks the last one up the same way. Wildcards are refused
// (ERROR_INVALID_NAME). Returns ERROR_SUCCESS (whether or not the last component exists) or
// ERROR_PATH_NOT_FOUND, ERROR_NOT_READY, ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_NAME, ...
DWORD ResolveWindowsPath(const char *path, ResolvedPath *out);

// ResolveWindowsPath, with ERROR_FILE_NOT_FOUND when the last component does not exist.
DWORD ResolveExistingPath(const char *path, ResolvedPath *out);

// ---- short_names.cpp -------------------------------------------------------------------------
bool IsValidShortName(const std::string &name);
bool EqualNoCase(const std::string &a, const std::string &b);
std::string UpperAnsi(const std::string &text);
// Short names of a directory's entries, given their long names in the listing's (sorted) order:
// "" for a name that is itself a valid short name.
std::vector<std::string> GenerateShortNames(const std::vector<std::string> &names);

// ---- directory_listing.cpp -------------------------------------------------------------------
struct ListedEntry {
    std::string name;
    std::string shortName;  // "" when the name is a valid short name
    struct stat st;         // lstat: links are never followed
};

// The entries of hostDir that a Windows program sees on the drive, sorted by name bytes: no "."
// or "..", no names longer than kMaxNameBytes or holding a backslash, no directories on another file
// system than driveDev. False (and an empty list) when the directory cannot be read.
bool ListDirectory(const std::string &hostDir, dev_t driveDev, std::vector<ListedEntry> *out);

// Looks `name` up in hostDir: the exact name first, then a case-insensitive match (the smallest by
// bytes when several differ only by case), then a generated short name. wantShortName fills
// found->shortName (which needs a full listing for a name that is not a valid short name).
bool FindComponent(const std::string &hostDir, dev_t driveDev, const std::string &name, bool wantShortName,
                   ListedEntry *found);

std::string JoinHostPath(const std::string &dir, const std::string &name);

// ---- file_attributes.cpp ---------------------------------------------------------------------
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorNegativeSeek = 131;

// The last-error value for a failed host call; `missing` is what ENOENT becomes.
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND);

// The hidden bit kept in the user.DOSATTRIB extended attribute (the "0x<hex>" text form).
bool HasHiddenAttribute(const std::string &hostPath);
// Stores or clears it; silently nothing where the file system keeps no user extended attributes.
void StoreHiddenAttribute(const std::string &hostPath, bool hidden);

// The Windows attributes of an entry from its lstat and name (the hidden bit also from the
// user.DOSATTRIB extended attribute of hostPath).
DWORD AttributesOf(const std::string &hostPath, const std::string &name, const struct stat &st);

// ---- find_files.cpp / file_handles.cpp -------------------------------------------------------
void CloseAllSearches();
void CloseAllFiles();

}  // namespace host
