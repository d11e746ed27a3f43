#include "map_changes.h"

#include <algorithm>
#include <vector>

namespace drivemap {

namespace {

constexpr WORD kScanFlags = ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_PE | ENTRY_HAS_REFS;
constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

// FNV-1a of the scan flags and the reference names; never 0, which stands for "not scanned".
uint64_t ScanHash(const RecordView &view) {
    if (!(view.wFlags & ENTRY_SCANNED)) return 0;
    uint64_t hash = kFnvOffset;
    const auto add = [&](unsigned char byte) { hash = (hash ^ byte) * kFnvPrime; };
    const WORD flags = view.wFlags & kScanFlags;
    add(static_cast<unsigned char>(flags));
    add(static_cast<unsigned char>(flags >> 8));
    for (const std::string_view name : view.references) {
        for (const char c : name) add(static_cast<unsigned char>(c));
        add(0);
    }
    return hash | 1;
}

void AddCount(std::vector<std::string> &parts, uint64_t count, const char *one, const char *many, const char *what) {
    if (count == 0) return;
    parts.push_back(std::to_string(count) + " " + (count == 1 ? one : many) + " " + what);
}

}  // namespace

bool MapChanges::Any() const {
    return directoriesAdded + directoriesRemoved + filesAdded + filesRemoved + filesUpdated + executablesRescanned > 0;
}

std::vector<MapSnapshot::Entry> MapSnapshot::Records(GetEntryFunction getEntry) {
    std::vector<Entry> records;
    RecordView view;
    std::string hashedDirectory;  // the directory whose path hashes to directoryHash
    uint64_t directoryHash = kFnvOffset;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        WalkBlocks(
            rootBlock, std::string{letter, ':', '\\'}, /*withPaths=*/true, [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, const std::string &directory) {
                if (!ReadRecord(record, cbRecord, view)) return;
                // A block's records come one after another: its path is hashed once.
                if (directory != hashedDirectory) {
                    directoryHash = kFnvOffset;
                    for (const char c : directory)
                        directoryHash = (directoryHash ^ static_cast<unsigned char>(c)) * kFnvPrime;
                    hashedDirectory = directory;
                }
                uint64_t hash = directoryHash;
                for (const char c : view.name) hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
                records.push_back(
                    {hash, {!view.isFile, view.wWriteDate, view.wWriteTime, view.dwSize, ScanHash(view)}});
            });
    });
    std::stable_sort(records.begin(), records.end(),
                     [](const Entry &a, const Entry &b) { return a.pathHash < b.pathHash; });
    records.erase(std::unique(records.begin(), records.end(),
                              [](const Entry &a, const Entry &b) { return a.pathHash == b.pathHash; }),
                  records.end());
    return records;
}

MapSnapshot MapSnapshot::Take(GetEntryFunction getEntry) {
    MapSnapshot snapshot;
    snapshot.records_ = Records(getEntry);
    for (const Entry &entry : snapshot.records_) ++(entry.record.directory ? snapshot.cDirectories_ : snapshot.cFiles_);
    return snapshot;
}

MapChanges MapSnapshot::CompareWith(GetEntryFunction getEntry) const {
    MapChanges changes;
    uint64_t cDirectoriesKept = 0, cFilesKept = 0;
    for (const Entry &entry : Records(getEntry)) {
        const Record &now = entry.record;
        const auto found = std::lower_bound(records_.begin(), records_.end(), entry.pathHash,
                                            [](const Entry &e, uint64_t hash) { return e.pathHash < hash; });
        if (found == records_.end() || found->pathHash != entry.pathHash || found->record.directory != now.directory) {
            ++(now.directory ? changes.directoriesAdded : changes.filesAdded);
            continue;
        }
        if (now.directory) {
            ++cDirectoriesKept;
            continue;
        }
        ++cFilesKept;
        const Record &before = found->record;
        const bool updated =
            before.dwSize != now.dwSize || before.wWriteDate != now.wWriteDate || before.wWriteTime != now.wWriteTime;
        if (updated) ++changes.filesUpdated;
        // A sync reads an executable's references afresh when its size changed.
        if (before.scanHash != 0 && (before.dwSize != now.dwSize || now.scanHash != before.scanHash))
            ++changes.executablesRescanned;
    }
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
