// What a Windows program sees of a host directory: the entries that belong on the drive, sorted by
// name bytes, with their short names; and the lookup of one component in it.
#include "directory_listing.h"

#include "short_names.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <time.h>

#include <algorithm>

namespace host {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Names Windows cannot hold are left out, and so are directories on another file system than the
// drive's root (a drive is one file system, like find -xdev).
bool BelongsOnDrive(const std::string &name, const struct stat &st, dev_t driveDev) {
    if (name.empty() || name.size() > kMaxNameBytes || name.find('\\') != std::string::npos) return false;
    return !(S_ISDIR(st.st_mode) && st.st_dev != driveDev);
}

// A directory that may be passed through but not read is opened for lookups only.
UniqueFd OpenDirectoryAt(int parentFd, const char *name) {
    int fd = openat(parentFd, name, kDirectoryFlags);
    if (fd < 0 && errno == EACCES) fd = openat(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return UniqueFd(fd);
}

// The short names of the last directory whose long name was looked up with its short name. Adding
// a file looks each file up by its full path, and a short name depends on the whole directory, so
// without this a directory of n long names costs n full listings. The cache is keyed by the
// directory's identity and change times, and is only kept for a directory unchanged for a few
// seconds: timestamps are coarse, and a change within the same tick must not go unnoticed.
struct ShortNameCache {
    bool bValid = false;
    dev_t dev = 0, driveDev = 0;
    ino_t ino = 0;
    struct timespec mtime {
    }, ctime{};
    std::vector<std::pair<std::string, std::string>> names;  // (long, short), sorted by long name
};

ShortNameCache g_shortNameCache;
constexpr time_t kSettledSeconds = 3;

bool SameTime(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The short name of `name` (an entry of the directory that is not a valid short name), or false
// when the directory no longer lists it.
bool ShortNameOf(int dirFd, dev_t driveDev, const std::string &name, std::string *out) {
    struct stat dirSt;
    if (fstat(dirFd, &dirSt) != 0) return false;
    ShortNameCache &cache = g_shortNameCache;
    bool fresh = cache.bValid && cache.dev == dirSt.st_dev && cache.ino == dirSt.st_ino && cache.driveDev == driveDev &&
                 SameTime(cache.mtime, dirSt.st_mtim) && SameTime(cache.ctime, dirSt.st_ctim);
    if (!fresh) {
        std::vector<ListedEntry> entries;
        ListDirectory(dirFd, driveDev, &entries);
        cache = ShortNameCache();
        for (ListedEntry &entry : entries) cache.names.emplace_back(std::move(entry.name), std::move(entry.shortName));
        if (time(nullptr) - dirSt.st_mtim.tv_sec >= kSettledSeconds &&
            time(nullptr) - dirSt.st_ctim.tv_sec >= kSettledSeconds) {
            cache.bValid = true;
            cache.dev = dirSt.st_dev;
            cache.driveDev = driveDev;
            cache.ino = dirSt.st_ino;
            cache.mtime = dirSt.st_mtim;
            cache.ctime = dirSt.st_ctim;
        }
    }
    auto it = std::lower_bound(cache.names.begin(), cache.names.end(), name,
                               [](const auto &entry, const std::string &key) { return entry.first < key; });
    if (it == cache.names.end() || it->first != name) return false;
    *out = it->second;
    return true;
}

}  // namespace

std::string JoinHostPath(const std::string &dir, const std::string &name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

UniqueFd OpenDriveRoot(const std::string &hostRoot, struct stat *st) {
    UniqueFd fd = OpenDirectoryAt(AT_FDCWD, hostRoot.c_str());
    if (fd.Valid() && fstat(fd.Get(), st) != 0) fd.Reset();
    return fd;
}

UniqueFd OpenSubdirectory(int parentFd, const std::string &name, dev_t driveDev, struct stat *st) {
    UniqueFd fd = OpenDirectoryAt(parentFd, name.c_str());
    if (!fd.Valid()) return fd;
    struct stat own;
    if (st == nullptr) st = &own;
    if (fstat(fd.Get(), st) != 0) {
        fd.Reset();
    } else if (st->st_dev != driveDev) {
        fd.Reset();
        errno = EXDEV;
    }
    return fd;
}

bool ListDirectory(int dirFd, dev_t driveDev, std::vector<ListedEntry> *out) {
    out->clear();
    // A descriptor of its own for the stream: reading moves the position of the open directory.
    int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) close(fd);
        return false;
    }
    while (struct dirent *ent = readdir(dir)) {
        if (strcmp(ent->d_name, ".") == 0 || strcmp(ent->d_name, "..") == 0) continue;
        ListedEntry entry;
        entry.name = ent->d_name;
        // An entry removed since readdir saw it is simply not listed.
        if (fstatat(fd, ent->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!BelongsOnDrive(entry.name, entry.st, driveDev)) continue;
        out->push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(out->begin(), out->end(), [](const ListedEntry &a, const ListedEntry &b) { return a.name < b.name; });
    std::vector<std::string> names;
    names.reserve(out->size());
    for (const ListedEntry &entry : *out) names.push_back(entry.name);
    std::vector<std::string> shortNames = GenerateShortNames(names);
    for (size_t i = 0; i < out->size(); ++i) (*out)[i].shortName = std::move(shortNames[i]);
    return true;
}

bool FindComponent(int dirFd, dev_t driveDev, const std::string &name, bool wantShortName, ListedEntry *found) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    // The exact name costs one lstat; the listing is needed only for a case-insensitive match or
    // for the short name of a long name.
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && BelongsOnDrive(name, st, driveDev)) {
        found->shortName.clear();
        if (!wantShortName || IsValidShortName(name) || ShortNameOf(dirFd, driveDev, name, &found->shortName)) {
            found->name = name;
            found->st = st;
            return true;
        }
    }
    std::vector<ListedEntry> entries;
    ListDirectory(dirFd, driveDev, &entries);
    for (const ListedEntry &entry : entries)
        if (entry.name == name) return *found = entry, true;
    for (const ListedEntry &entry : entries)
        if (EqualNoCase(entry.name, name)) return *found = entry, true;
    for (const ListedEntry &entry : entries)
        if (!entry.shortName.empty() && EqualNoCase(entry.shortName, name)) return *found = entry, true;
    return false;
}

}  // namespace host
