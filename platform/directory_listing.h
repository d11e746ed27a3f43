// What a Windows program sees of a host directory (directory_listing.cpp).
#pragma once

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

}  // namespace host
