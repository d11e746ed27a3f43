#include "map_changes.h"

#include <algorithm>
#include <vector>

namespace drivemap {

namespace {

constexpr WORD kScanFlags = ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_PE | ENTRY_HAS_REFS;

// FNV-1a of the scan flags and the reference names; never 0, which stands for "not scanned".
uint64_t ScanHash(const RecordView &view) {
    if (!(view.wFlags & ENTRY_SCANNED)) return 0;
    uint64_t hash = 14695981039346656037ull;
    const auto add = [&](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
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

template <typename Visit>
void MapSnapshot::ForEachRecord(GetEntryFunction getEntry, Visit visit) {
    RecordView view;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        WalkBlocks(
            rootBlock, std::string{letter, ':', '\\'}, /*withPaths=*/true, [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, const std::string &directory) {
                if (!ReadRecord(record, cbRecord, view)) return;
                const Record snapshot{!view.isFile, view.wWriteDate, view.wWriteTime, view.dwSize, ScanHash(view)};
                std::string path = directory;
                path += view.name;
                visit(std::move(path), snapshot);
            });
    });
}

MapSnapshot MapSnapshot::Take(GetEntryFunction getEntry) {
    MapSnapshot snapshot;
    ForEachRecord(getEntry, [&](std::string &&path, const Record &record) {
        if (snapshot.records_.emplace(std::move(path), record).second)
            ++(record.directory ? snapshot.cDirectories_ : snapshot.cFiles_);
    });
    return snapshot;
}

MapChanges MapSnapshot::CompareWith(GetEntryFunction getEntry) const {
    MapChanges changes;
    uint64_t cDirectoriesKept = 0, cFilesKept = 0;
    ForEachRecord(getEntry, [&](std::string &&path, const Record &now) {
        const auto found = records_.find(path);
        if (found == records_.end() || found->second.directory != now.directory) {
            ++(now.directory ? changes.directoriesAdded : changes.filesAdded);
            return;
        }
        if (now.directory) {
            ++cDirectoriesKept;
            return;
        }
        ++cFilesKept;
        const Record &before = found->second;
        const bool updated =
            before.dwSize != now.dwSize || before.wWriteDate != now.wWriteDate || before.wWriteTime != now.wWriteTime;
        if (updated) ++changes.filesUpdated;
        // A sync reads an executable's references afresh when its size changed.
        if (before.scanHash != 0 && (before.dwSize != now.dwSize || now.scanHash != before.scanHash))
            ++changes.executablesRescanned;
    });
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
