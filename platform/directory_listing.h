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

// What a listing keeps of an entry's lstat: half of it, for a directory of thousands of entries.
struct EntryStat {
    dev_t st_dev = 0;
    ino_t st_ino = 0;
    mode_t st_mode = 0;
    off_t st_size = 0;
    struct timespec st_atim {};
    struct timespec st_mtim {};
    struct timespec st_ctim {};

    EntryStat() = default;
    // Not explicit: a full stat serves wherever an entry's is asked for.
    EntryStat(const struct stat &st)
        : st_dev(st.st_dev),
          st_ino(st.st_ino),
          st_mode(st.st_mode),
          st_size(st.st_size),
          st_atim(st.st_atim),
          st_mtim(st.st_mtim),
          st_ctim(st.st_ctim) {}
};

struct ListedEntry {
    std::string name;           // on the host
    std::string generatedName;  // shown in place of a name Windows cannot hold; "" for any other
    std::string shortName;      // "" when the shown name is a valid short name or generated
    EntryStat st;               // lstat: links are never followed
    bool bCaseTwin = false;     // an entry before it differs from it only in case: left out of listings
    bool bUnnamed = false;      // a name Windows cannot hold, with no generated name free for it

    // What Windows programs see: the name, or the one generated in its place.
    const std::string &ShownName() const { return generatedName.empty() ? name : generatedName; }
};

// An entry a listing leaves out, and why (HOST_LISTING_NAME_TOO_LONG, HOST_LISTING_OTHER_FS, or
// HOST_LISTING_GENERATED_NAME when no generated name was free for it).
struct LeftOutEntry {
    std::string name;
    unsigned reason;
};

// Opens the drive's root directory, or the directory `name` of the directory open at parentFd,
// without following a link and without blocking. Fails (errno set) unless the entry is a directory
// on the file system driveDev. The descriptor can read the directory, or, for one that may be
// passed through but not read, only look names up in it. *st receives its fstat.
UniqueFd OpenDriveRoot(const std::string &hostRoot, struct stat *st);
UniqueFd OpenSubdirectory(int parentFd, const std::string &name, dev_t driveDev, struct stat *st);

// The entries of the directory open at dirFd that a Windows program sees on the drive, sorted by
// host name bytes: no "." or "..", no names longer than kMaxNameBytes, no directories on another
// file system than driveDev (those go to *leftOut when given). Names Windows cannot hold are shown
// under generated names. False (and an empty list) when the directory cannot be read.
// freshDescriptor: dirFd was just opened and never read, so it is at the listing's start.
// directoryBytes: the directory's st_size, which sizes the list of a large directory at once.
bool ListDirectory(int dirFd, dev_t driveDev, off_t directoryBytes, std::vector<ListedEntry> *out,
                   std::vector<LeftOutEntry> *leftOut = nullptr, bool freshDescriptor = false);

// Looks `name` up in the directory open at dirFd: the exact host name first (never one Windows
// cannot hold), then the shown names exactly and case-insensitively (the smallest by host bytes
// when several differ only by case), then the short names. wantShortName fills found->shortName
// (which needs a full listing for a name that is not a valid short name). *fullSt, when given,
// receives the whole lstat of the entry found.
bool FindComponent(int dirFd, dev_t driveDev, const std::string &name, bool wantShortName, ListedEntry *found,
                   struct stat *fullSt = nullptr);

std::string JoinHostPath(const std::string &dir, const std::string &name);
void AppendHostName(std::string *path, const std::string &name);  // JoinHostPath in place

}  // namespace host
