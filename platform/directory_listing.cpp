// What a Windows program sees of a host directory: the entries that belong on the drive, sorted by
// host name bytes, each under the name shown for it (generated for a name Windows cannot hold) and
// with its short name; the lookup of one component in it; and the opening of directories.
#include "directory_listing.h"

#include "host_machine.h"
#include "short_names.h"
#include "text_codepages.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>

namespace host {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
constexpr off_t kSizedListBytes = 64 * 1024;  // a directory of a few thousand entries
constexpr size_t kSizedListMaxEntries = 65536;

// Too long a name for a listing, or a directory on another file system than the drive's root (a
// drive is one file system, like find -xdev): left out, with the reason; 0 for an entry that stays.
unsigned LeftOutReason(const std::string &name, const EntryStat &st, dev_t driveDev) {
    if (name.size() > kMaxNameBytes) return HOST_LISTING_NAME_TOO_LONG;
    if (S_ISDIR(st.st_mode) && st.st_dev != driveDev) return HOST_LISTING_OTHER_FS;
    return 0;
}

// Sorts by host name (unique within a directory): the order is found on indices and each entry,
// nearly two hundred bytes with its stat, moved once instead of at every step of the sort, in place so
// that a large directory's listing is never held twice. The names' first eight bytes, as a
// big-endian number (zeros after a shorter name), order them as the bytes do; only names that
// share those are compared whole.
void SortByName(std::vector<ListedEntry> *entries) {
    struct Key {
        uint64_t prefix;
        uint32_t index;
    };
    std::vector<Key> keys(entries->size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
        const std::string &name = (*entries)[i].name;
        uint64_t prefix = 0;
        for (size_t b = 0; b < 8; ++b)
            prefix = (prefix << 8) | (b < name.size() ? static_cast<unsigned char>(name[b]) : 0u);
        keys[i] = Key{prefix, i};
    }
    std::sort(keys.begin(), keys.end(), [entries](const Key &a, const Key &b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return (*entries)[a.index].name < (*entries)[b.index].name;
    });
    // Place p takes the entry at keys[p].index: each cycle of that permutation is followed once,
    // and a place filled is marked by its key's index pointing at itself.
    for (uint32_t start = 0; start < keys.size(); ++start) {
        if (keys[start].index == start) continue;
        ListedEntry moving = std::move((*entries)[start]);
        uint32_t place = start;
        for (uint32_t from = keys[place].index; from != start; from = keys[place].index) {
            (*entries)[place] = std::move((*entries)[from]);
            keys[place].index = place;
            place = from;
        }
        (*entries)[place] = std::move(moving);
        keys[place].index = place;
    }
}

// Shown names (generated in place of names Windows cannot hold), short names and case twins of a
// listing sorted by host name.
void NameEntries(std::vector<ListedEntry> *entries) {
    std::vector<std::string_view> names;
    std::vector<std::string> invalid;
    std::vector<bool> isInvalid(entries->size());
    names.reserve(entries->size());
    for (size_t i = 0; i < entries->size(); ++i) {
        const std::string &name = (*entries)[i].name;
        isInvalid[i] = IsInvalidWindowsName(name);
        if (isInvalid[i])
            invalid.push_back(name);
        else
            names.push_back(name);
    }
    const std::vector<ShortName> shortNames = GenerateShortNames(names);
    std::vector<std::string> generated;
    if (!invalid.empty()) {
        // A generated name never equals another entry's name or short name.
        std::set<std::string> taken;
        for (const std::string_view name : names) taken.insert(UpperAnsi(std::string(name)));
        for (const ShortName &shortName : shortNames)
            if (shortName.size != 0) taken.insert(std::string(shortName.View()));
        generated = GenerateNamesInPlaceOf(invalid, &taken);
    }
    // Case twins are found by a hash of the upper-case name; only a hash seen before has the
    // earlier names compared. The hashes (odd, so that 0 marks a free slot) go in a table of at
    // least twice as many slots as entries.
    size_t cSlots = 16;
    while (cSlots < 2 * entries->size()) cSlots *= 2;
    std::vector<uint64_t> shownHashes(cSlots);
    const auto seenBefore = [&](uint64_t hash) {
        hash |= 1;
        for (size_t slot = (hash ^ hash >> 29) & (cSlots - 1);; slot = (slot + 1) & (cSlots - 1)) {
            if (shownHashes[slot] == hash) return true;
            if (shownHashes[slot] == 0) {
                shownHashes[slot] = hash;
                return false;
            }
        }
    };
    const auto isTwinOfEarlier = [entries](size_t i) {
        for (size_t j = 0; j < i; ++j)
            if (EqualNoCase((*entries)[j].ShownName(), (*entries)[i].ShownName())) return true;
        return false;
    };
    size_t nextValid = 0, nextInvalid = 0;
    for (size_t i = 0; i < entries->size(); ++i) {
        ListedEntry &entry = (*entries)[i];
        if (isInvalid[i]) {
            entry.generatedName = std::move(generated[nextInvalid++]);
            entry.bUnnamed = entry.generatedName.empty();
            entry.shortName.clear();
        } else {
            entry.generatedName.clear();
            const ShortName &shortName = shortNames[nextValid++];
            entry.shortName.assign(shortName.chars, shortName.size);
        }
        uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (const char c : entry.ShownName())
            hash = (hash ^ ToUpperAnsi(static_cast<unsigned char>(c))) * 1099511628211ull;
        entry.bCaseTwin = seenBefore(hash) && isTwinOfEarlier(i);
    }
}

// A directory that may be passed through but not read is opened for lookups only.
UniqueFd OpenDirectoryAt(int parentFd, const char *name) {
    int fd = openat(parentFd, name, kDirectoryFlags);
    if (fd < 0 && errno == EACCES) fd = openat(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return UniqueFd(fd);
}

// The listing of the last directory looked up by a name that needs one: a short name depends on
// the whole directory, and adding a file looks each file up by its full path, so without this a
// directory of n long names costs n full listings. The cache is keyed by the directory's identity
// and change times, and is only kept for a directory unchanged for a few seconds: timestamps are
// coarse, and a change within the same tick must not go unnoticed. Its stat fields may be stale.
struct ListingCache {
    bool bValid = false;
    dev_t dev = 0, driveDev = 0;
    ino_t ino = 0;
    struct timespec mtime {
    }, ctime{};
    std::vector<ListedEntry> entries;
};

ListingCache g_listingCache;
constexpr time_t kSettledSeconds = 3;

bool SameTime(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The directory's listing, from the cache when it is still the same directory, unchanged.
const std::vector<ListedEntry> &CachedListing(int dirFd, dev_t driveDev) {
    ListingCache &cache = g_listingCache;
    struct stat dirSt;
    if (fstat(dirFd, &dirSt) != 0) {
        cache = ListingCache();
        return cache.entries;
    }
    bool fresh = cache.bValid && cache.dev == dirSt.st_dev && cache.ino == dirSt.st_ino && cache.driveDev == driveDev &&
                 SameTime(cache.mtime, dirSt.st_mtim) && SameTime(cache.ctime, dirSt.st_ctim);
    if (fresh) return cache.entries;
    cache = ListingCache();
    ListDirectory(dirFd, driveDev, dirSt.st_size, &cache.entries);
    if (time(nullptr) - dirSt.st_mtim.tv_sec >= kSettledSeconds &&
        time(nullptr) - dirSt.st_ctim.tv_sec >= kSettledSeconds) {
        cache.bValid = true;
        cache.dev = dirSt.st_dev;
        cache.driveDev = driveDev;
        cache.ino = dirSt.st_ino;
        cache.mtime = dirSt.st_mtim;
        cache.ctime = dirSt.st_ctim;
    }
    return cache.entries;
}

// *found = the listed entry, its stat taken afresh (the whole of it in *fullSt when given); false
// when it is gone.
bool TakeEntry(int dirFd, const ListedEntry &entry, ListedEntry *found, struct stat *fullSt) {
    struct stat st;
    if (fstatat(dirFd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    *found = entry;
    found->st = st;
    if (fullSt != nullptr) *fullSt = st;
    return true;
}

}  // namespace

std::string JoinHostPath(const std::string &dir, const std::string &name) {
    std::string path = dir;
    AppendHostName(&path, name);
    return path;
}

void AppendHostName(std::string *path, const std::string &name) {
    if (path->empty() || path->back() != '/') *path += '/';
    *path += name;
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

bool ListDirectory(int dirFd, dev_t driveDev, off_t directoryBytes, std::vector<ListedEntry> *out,
                   std::vector<LeftOutEntry> *leftOut, bool freshDescriptor) {
    out->clear();
    // A list grown by doubling holds its old storage and the new at once: a large directory's is
    // sized at the start for as many entries as its bytes could hold at 16 each, up to what a
    // directory of the map can hold. Capacity never written is address space only.
    if (directoryBytes >= kSizedListBytes)
        out->reserve(std::min(static_cast<size_t>(directoryBytes / 16), kSizedListMaxEntries));
    if (leftOut != nullptr) leftOut->clear();
    // The records are read with getdents64 itself, which spares the checks a directory stream makes
    // on opening, from the start of the open directory; a descriptor opened only to name the
    // directory (O_PATH) cannot be read, and one of its own is opened then.
    UniqueFd own;
    int readFd = dirFd;
    const auto readOwnDescriptor = [&] {
        own = UniqueFd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        readFd = own.Get();
        return own.Valid();
    };
    if (!freshDescriptor && lseek(dirFd, 0, SEEK_SET) != 0 && !readOwnDescriptor()) return false;
    alignas(8) static thread_local char buffer[32768];  // the caller's and the read-ahead thread's
    for (bool first = true;; first = false) {
        const ssize_t got = getdents64(readFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        // A fresh descriptor that cannot be read was opened only to name the directory.
        if (got < 0 && errno == EBADF && first && !own.Valid()) {
            if (!readOwnDescriptor()) return false;
            continue;
        }
        if (got <= 0) break;  // the end, or an error: what was read is the listing
        // Room for every record read, once: most directories come in one read, and an entry moved
        // as the list grows is a few hundred bytes.
        size_t cRecords = 0;
        for (ssize_t at = 0; at < got; at += reinterpret_cast<const struct dirent64 *>(buffer + at)->d_reclen)
            ++cRecords;
        if (out->size() + cRecords > out->capacity())
            out->reserve(std::max(out->size() + cRecords, 2 * out->capacity()));
        for (ssize_t at = 0; at < got;) {
            const auto *ent = reinterpret_cast<const struct dirent64 *>(buffer + at);
            at += ent->d_reclen;
            const char *name = ent->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            ListedEntry entry;
            struct stat st;
            // An entry removed since it was read is simply not listed.
            if (fstatat(readFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            entry.st = st;
            entry.name = name;
            if (unsigned reason = LeftOutReason(entry.name, entry.st, driveDev)) {
                if (leftOut != nullptr) leftOut->push_back(LeftOutEntry{entry.name, reason});
                continue;
            }
            out->push_back(std::move(entry));
        }
    }
    own.Reset();
    SortByName(out);
    NameEntries(out);
    // No generated name free (every one of 65,536 taken): the entry cannot be shown.
    auto unnamed = [](const ListedEntry &entry) { return entry.bUnnamed; };
    if (std::any_of(out->begin(), out->end(), unnamed)) {
        for (const ListedEntry &entry : *out)
            if (unnamed(entry) && leftOut != nullptr)
                leftOut->push_back(LeftOutEntry{entry.name, HOST_LISTING_GENERATED_NAME});
        out->erase(std::remove_if(out->begin(), out->end(), unnamed), out->end());
    }
    return true;
}

bool FindComponent(int dirFd, dev_t driveDev, const std::string &name, bool wantShortName, ListedEntry *found,
                   struct stat *fullSt) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    // The exact name costs one lstat; the listing is needed only for a case-insensitive match, a
    // generated name or the short name of a long name.
    struct stat st;
    if (!IsInvalidWindowsName(name) && fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        LeftOutReason(name, st, driveDev) == 0) {
        found->name = name;
        found->generatedName.clear();
        found->bUnnamed = false;
        found->shortName.clear();
        found->st = st;
        if (fullSt != nullptr) *fullSt = st;
        found->bCaseTwin = false;
        if (!wantShortName || IsValidShortName(name)) return true;
        for (const ListedEntry &entry : CachedListing(dirFd, driveDev))
            if (entry.name == name) return found->shortName = entry.shortName, true;
    }
    const std::vector<ListedEntry> &entries = CachedListing(dirFd, driveDev);
    for (const ListedEntry &entry : entries)
        if (entry.ShownName() == name) return TakeEntry(dirFd, entry, found, fullSt);
    for (const ListedEntry &entry : entries)
        if (EqualNoCase(entry.ShownName(), name)) return TakeEntry(dirFd, entry, found, fullSt);
    for (const ListedEntry &entry : entries)
        if (!entry.shortName.empty() && EqualNoCase(entry.shortName, name))
            return TakeEntry(dirFd, entry, found, fullSt);
    return false;
}

}  // namespace host
