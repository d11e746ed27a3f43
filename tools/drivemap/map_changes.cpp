#include "map_changes.h"

#include "hash_sort.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace drivemap {

namespace {

constexpr WORD kScanFlags = ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_PE | ENTRY_HAS_REFS;
constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

// FNV-1a: `hash` continued over `bytes`.
uint64_t Fnv1a(uint64_t hash, std::string_view bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

// FNV-1a of the scan flags and the reference names; never 0, which stands for "not scanned".
uint64_t ScanHash(const RecordView &view) {
    if (!(view.wFlags & ENTRY_SCANNED)) return 0;
    const WORD flags = view.wFlags & kScanFlags;
    const char flagBytes[] = {static_cast<char>(flags & 0xFF), static_cast<char>(flags >> 8)};
    uint64_t hash = Fnv1a(kFnvOffset, std::string_view(flagBytes, sizeof flagBytes));
    for (const std::string_view name : view.references) hash = Fnv1a(Fnv1a(hash, name), std::string_view("", 1));
    return hash | 1;
}

// Maps the pages of a list's reserved storage at once, where the kernel can: on some virtual
// machines a page's first write costs a fault that takes as long as filling it a dozen times.
template <typename T>
void PrefaultStorage(const std::vector<T> &list) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (reinterpret_cast<uintptr_t>(list.data()) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(list.data() + list.capacity())) & ~(page - 1);
    if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)list;
#endif
}

void AddCount(std::vector<std::string> &parts, uint64_t count, const char *one, const char *many, const char *what) {
    if (count == 0) return;
    parts.push_back(std::to_string(count) + " " + (count == 1 ? one : many) + " " + what);
}

}  // namespace

bool MapChanges::Any() const {
    return directoriesAdded + directoriesRemoved + filesAdded + filesRemoved + filesUpdated + executablesRescanned > 0;
}

template <typename Add>
void MapSnapshot::ForEachRecord(GetEntryFunction getEntry, Add add) {
    RecordView view;
    // Each block carries the hash of its directory's path, which its records' hashes continue.
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        const char root[] = {letter, ':', '\\'};
        WalkBlocksWith(
            rootBlock, Fnv1a(kFnvOffset, std::string_view(root, sizeof root)),
            [&](uint64_t directoryHash, const BYTE *record, WORD cbRecord) {
                return Fnv1a(Fnv1a(directoryHash, RecordName(record, cbRecord)), "\\");
            },
            [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, uint64_t directoryHash) {
                if (!ReadRecord(record, cbRecord, view)) return;
                const uint64_t scanHash = view.isFile ? ScanHash(view) : 0;
                add(Entry(Fnv1a(directoryHash, view.name), !view.isFile, scanHash != 0, view.dwSize, view.wWriteDate,
                          view.wWriteTime),
                    scanHash);
            });
    });
}

MapSnapshot::MapSnapshot(GetEntryFunction getEntry, size_t cRecords) {
    static_assert(sizeof(Entry) == 16, "a snapshot record is 16 bytes");
    records_.reserve(cRecords);
    PrefaultStorage(records_);
    ForEachRecord(getEntry, [this](const Entry &entry, uint64_t scanHash) {
        records_.push_back(entry);
        if (scanHash != 0) scans_.push_back(Scan{entry.key, scanHash});
    });
    const auto sort = [this] {
        std::vector<Entry> scratch;
        scratch.reserve(records_.size());
        PrefaultStorage(scratch);
        SortByHash(records_, scratch, ends_, [](const Entry &entry) { return entry.key; });
        for (size_t i = 0; i < records_.size(); ++i)
            if (i == 0 || records_[i].Path() != records_[i - 1].Path())
                ++(records_[i].Directory() ? cDirectories_ : cFiles_);
        std::stable_sort(scans_.begin(), scans_.end(), [](const Scan &a, const Scan &b) { return a.key < b.key; });
    };
    try {
        sorting_ = std::thread(sort);
    } catch (const std::system_error &) {
        sort();  // no second thread
    }
}

MapSnapshot::~MapSnapshot() { Sorted(); }

void MapSnapshot::Sorted() const {
    if (sorting_.joinable()) sorting_.join();
}

MapSnapshot::Bucket MapSnapshot::BucketOf(uint64_t key) const {
    Bucket bucket{records_.data(), records_.data() + records_.size()};
    if (!ends_.empty()) {
        const size_t b = key >> HashSortShift(ends_.size());
        bucket.last = records_.data() + ends_[b];
        if (b > 0) bucket.first = records_.data() + ends_[b - 1];
    }
    __builtin_prefetch(bucket.first);
    return bucket;
}

const MapSnapshot::Entry *MapSnapshot::Find(Bucket bucket, const Entry &entry) {
    // A path's entries, scanned or not, lie side by side: they differ in the lowest bit alone.
    for (const Entry *was = bucket.first; was != bucket.last && was->Path() <= entry.Path(); ++was)
        if (was->Path() == entry.Path()) return was;
    return nullptr;
}

uint64_t MapSnapshot::ScanHashOf(const Entry &entry) const {
    const auto at = std::lower_bound(scans_.begin(), scans_.end(), entry.key,
                                     [](const Scan &scan, uint64_t key) { return scan.key < key; });
    return at != scans_.end() && at->key == entry.key ? at->hash : 0;
}

MapChanges MapSnapshot::CompareWith(GetEntryFunction getEntry) const {
    MapChanges changes;
    uint64_t cDirectoriesKept = 0, cFilesKept = 0;
    Sorted();
    // Which snapshot entries a record of the map has found already: a path is counted once.
    std::vector<bool> found(records_.size());
    struct Looked {
        Entry now;
        uint64_t scanHash;
        Bucket bucket;
    };
    const auto compare = [&](const Looked &looked) {
        const Entry &now = looked.now;
        const Entry *was = Find(looked.bucket, now);
        if (was != nullptr && found[was - records_.data()]) return;
        if (was == nullptr) {  // a directory that was a file, or the other way round, is new too
            ++(now.Directory() ? changes.directoriesAdded : changes.filesAdded);
            return;
        }
        found[was - records_.data()] = true;
        if (now.Directory()) {
            ++cDirectoriesKept;
            return;
        }
        ++cFilesKept;
        const bool updated =
            was->dwSize != now.dwSize || was->wWriteDate != now.wWriteDate || was->wWriteTime != now.wWriteTime;
        if (updated) ++changes.filesUpdated;
        // A sync reads an executable's references afresh when its size changed.
        if (was->Scanned() && (was->dwSize != now.dwSize || looked.scanHash != ScanHashOf(*was)))
            ++changes.executablesRescanned;
    };
    // A lookup misses the cache: each record is compared kAhead records after its bucket was
    // fetched, in map order still, so that the fetches overlap.
    constexpr size_t kAhead = 16;
    Looked ahead[kAhead];
    size_t cRecords = 0;
    ForEachRecord(getEntry, [&](const Entry &now, uint64_t scanHash) {
        Looked &slot = ahead[cRecords++ % kAhead];
        if (cRecords > kAhead) compare(slot);
        slot = Looked{now, scanHash, BucketOf(now.key)};
    });
    for (size_t i = cRecords > kAhead ? cRecords - kAhead : 0; i < cRecords; ++i) compare(ahead[i % kAhead]);
    changes.directoriesRemoved = cDirectories_ - std::min(cDirectories_, cDirectoriesKept);
    changes.filesRemoved = cFiles_ - std::min(cFiles_, cFilesKept);
    return changes;
}

std::string ChangesText(const MapChanges &changes) {
    if (!changes.Any()) return "Nothing changed.";
    std::vector<std::string> parts;
    AddCount(parts, changes.directoriesAdded, "directory", "directories", "added");
    AddCount(parts, changes.directoriesRemoved, "directory", "directories", "removed");
    AddCount(parts, changes.filesAdded, "file", "files", "added");
    AddCount(parts, changes.filesRemoved, "file", "files", "removed");
    AddCount(parts, changes.filesUpdated, "file", "files", "updated");
    AddCount(parts, changes.executablesRescanned, "executable", "executables", "rescanned");
    std::string text = "Changed: ";
    for (size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? ", " : "") + parts[i];
    return text + ".";
}

}  // namespace drivemap
