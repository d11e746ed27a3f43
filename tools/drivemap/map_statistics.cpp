#include "map_statistics.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <utility>

namespace drivemap {
namespace {

// Record fields are unaligned; pointer fields are 32 bits wide and hold global memory, which lies
// below 4 GiB, so they are read zero-extended.
template <typename T>
T LoadField(const void *field) {
    T value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

const BYTE *LoadPtr32(const void *field) {
    return reinterpret_cast<const BYTE *>(static_cast<uintptr_t>(LoadField<PTR32>(field)));
}

constexpr DWORD kDirectoryRecordFixed = offsetof(EntryRecord, szName) + 1;

// The name of a record of cbRecord bytes (at least kDirectoryRecordFixed), never past the record.
std::string_view RecordName(const BYTE *record, WORD cbRecord) {
    const char *name = reinterpret_cast<const char *>(record + offsetof(EntryRecord, szName));
    return std::string_view(name, strnlen(name, cbRecord - offsetof(EntryRecord, szName)));
}

// A block waiting to be walked, with its directory's path when paths are wanted.
struct PendingBlock {
    const BYTE *block;
    std::string path;
};

// Walks every block of the drive whose root block is `rootBlock`, depth-first with a stack of its
// own (a deep tree costs memory, not the call stack): onBlock(block) for each, then
// onRecord(record, directoryPath) for each of its records. A block's records are read only while
// they lie within dwUsed, so that a map changed under the walk cannot lead it astray. Directory
// paths ("C:\", "C:\DIR\") are built only when `withPaths` is set.
template <typename OnBlock, typename OnRecord>
void WalkDrive(char letter, const BYTE *rootBlock, bool withPaths, OnBlock onBlock, OnRecord onRecord) {
    std::vector<PendingBlock> pending;
    pending.push_back({rootBlock, withPaths ? std::string{letter, ':', '\\'} : std::string()});
    while (!pending.empty()) {
        const PendingBlock current = std::move(pending.back());
        pending.pop_back();
        const BYTE *block = current.block;
        onBlock(block);
        const DWORD cbUsed = LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
        const WORD cEntries = LoadField<WORD>(block + offsetof(DirectoryBlock, wEntryCount));
        DWORD offset = sizeof(DirectoryBlock);
        for (WORD i = 0; i < cEntries && offset + kDirectoryRecordFixed <= cbUsed; ++i) {
            const BYTE *record = block + offset;
            const WORD cbRecord = LoadField<WORD>(record + offsetof(EntryRecord, wLength));
            if (cbRecord < kDirectoryRecordFixed || offset + cbRecord > cbUsed) break;
            onRecord(record, current.path);
            const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
            const BYTE *child = LoadPtr32(record + offsetof(EntryRecord, u1));
            if (!(wFlags & ENTRY_IS_FILE) && child != nullptr) {
                pending.push_back({child, withPaths ? current.path + std::string(RecordName(record, cbRecord)) + "\\"
                                                    : std::string()});
            }
            offset += cbRecord;
        }
    }
}

// Each drive of the loaded map, A: to Z:, with its root block. A drive the lookup does not find is
// not in the map.
template <typename OnDrive>
void ForEachDrive(GetEntryFunction getEntry, OnDrive onDrive) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        EntryPosition position{};
        if (!getEntry(0, root, &position)) continue;
        if (const BYTE *rootBlock = LoadPtr32(&position.pBlock)) onDrive(letter, rootBlock);
    }
}

// Extensions that NE and PE executables carry: programs, libraries, drivers, controls, control
// panel applets, screen savers, fonts, codecs, input methods, resource modules, EFI applications.
constexpr const char *kExecutableExtensions[] = {"386", "acm", "ax",  "com", "cpl", "dll", "drv", "efi", "exe",
                                                 "fon", "fot", "ime", "mui", "ocx", "scr", "sys", "tsk", "vxd"};

}  // namespace

MapCounts &MapCounts::operator+=(const MapCounts &other) {
    cDirectories += other.cDirectories;
    cFiles += other.cFiles;
    cNeExecutables += other.cNeExecutables;
    cPeExecutables += other.cPeExecutables;
    cWithReferences += other.cWithReferences;
    cBlocks += other.cBlocks;
    cbBlocks += other.cbBlocks;
    cbFiles += other.cbFiles;
    return *this;
}

std::vector<DriveCounts> CollectMapStatistics(GetEntryFunction getEntry) {
    std::vector<DriveCounts> drives;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        MapCounts counts;
        WalkDrive(
            letter, rootBlock, /*withPaths=*/false,
            [&](const BYTE *block) {
                counts.cBlocks++;
                counts.cbBlocks += LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
            },
            [&](const BYTE *record, const std::string &) {
                const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
                if (!(wFlags & ENTRY_IS_FILE)) {
                    counts.cDirectories++;
                    return;
                }
                counts.cFiles++;
                counts.cbFiles += LoadField<DWORD>(record + offsetof(EntryRecord, u1));
                if (wFlags & ENTRY_SCANNED) ++((wFlags & ENTRY_PE) ? counts.cPeExecutables : counts.cNeExecutables);
                if (wFlags & ENTRY_HAS_REFS) counts.cWithReferences++;
            });
        drives.push_back({letter, counts});
    });
    return drives;
}

MapCounts TotalCounts(const std::vector<DriveCounts> &drives) {
    MapCounts total;
    for (const auto &drive : drives) total += drive.counts;
    return total;
}

bool HasExecutableExtension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = name.substr(dot + 1);
    return std::any_of(std::begin(kExecutableExtensions), std::end(kExecutableExtensions), [&](const char *e) {
        return extension.size() == std::strlen(e) && strncasecmp(extension.data(), e, extension.size()) == 0;
    });
}

uint64_t ForEachUnscannedExecutable(GetEntryFunction getEntry, const std::function<void(const std::string &)> &visit) {
    uint64_t count = 0;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        WalkDrive(
            letter, rootBlock, /*withPaths=*/static_cast<bool>(visit), [](const BYTE *) {},
            [&](const BYTE *record, const std::string &directory) {
                const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
                const WORD cbRecord = LoadField<WORD>(record + offsetof(EntryRecord, wLength));
                const std::string_view nameView = RecordName(record, cbRecord);
                if (!(wFlags & ENTRY_IS_FILE) || (wFlags & ENTRY_SCANNED) || !HasExecutableExtension(nameView)) return;
                ++count;
                if (visit) visit(directory + std::string(nameView));
            });
    });
    return count;
}

}  // namespace drivemap
