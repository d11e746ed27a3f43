// What a Windows program sees of a host directory (directory_listing.cpp). Directories are reached
// through descriptors, each opened relative to its parent's without following a link, so that a
// directory swapped for a link at any moment is never followed.
#pragma once

#include "unique_fd.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace host {

constexpr size_t kMaxNameBytes = 259;  // longest name a directory listing reports

struct ListedEntry {
    std::string name;
    std::string shortName;  // "" when the name is a valid short name
    struct stat st;         // lstat: links are never followed
};

// Opens the drive's root directory, or the directory `name` of the directory open at parentFd,
// without following a link and without blocking. Fails (errno set) unless the entry is a directory
// on the file system driveDev. The descriptor can read the directory, or, for one that may be
// passed through but not read, only look names up in it. *st receives its fstat.
UniqueFd OpenDriveRoot(const std::string &hostRoot, struct stat *st);
UniqueFd OpenSubdirectory(int parentFd, const std::string &name, dev_t driveDev, struct stat *st);

// The entries of the directory open at dirFd that a Windows program sees on the drive, sorted by
// name bytes: no "." or "..", no names longer than kMaxNameBytes or holding a backslash, no
// directories on another file system than driveDev. False (and an empty list) when the directory
// cannot be read.
bool ListDirectory(int dirFd, dev_t driveDev, std::vector<ListedEntry> *out);

// Looks `name` up in the directory open at dirFd: the exact name first, then a case-insensitive
// match (the smallest by bytes when several differ only by case), then a generated short name.
// wantShortName fills found->shortName (which needs a full listing for a name that is not a valid
// short name).
bool FindComponent(int dirFd, dev_t driveDev, const std::string &name, bool wantShortName, ListedEntry *found);

std::string JoinHostPath(const std::string &dir, const std::string &name);

}  // namespace host
