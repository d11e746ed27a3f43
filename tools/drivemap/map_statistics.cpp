#include "map_statistics.h"

#include <cstring>

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

// Counts one block and queues the child blocks of its directory records. Stops at a record that
// would run past dwUsed, so that a map changed under the walk cannot lead it astray.
void CountBlock(const BYTE *block, MapCounts &counts, std::vector<const BYTE *> &pending) {
    const DWORD cbUsed = LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
    const WORD cEntries = LoadField<WORD>(block + offsetof(DirectoryBlock, wEntryCount));
    counts.cBlocks++;
    counts.cbBlocks += cbUsed;
    DWORD offset = sizeof(DirectoryBlock);
    for (WORD i = 0; i < cEntries && offset + kDirectoryRecordFixed <= cbUsed; ++i) {
        const BYTE *record = block + offset;
        const WORD cbRecord = LoadField<WORD>(record + offsetof(EntryRecord, wLength));
        if (cbRecord < kDirectoryRecordFixed || offset + cbRecord > cbUsed) break;
        const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
        if (wFlags & ENTRY_IS_FILE) {
            counts.cFiles++;
            counts.cbFiles += LoadField<DWORD>(record + offsetof(EntryRecord, u1));
            if (wFlags & ENTRY_SCANNED) ++((wFlags & ENTRY_PE) ? counts.cPeExecutables : counts.cNeExecutables);
            if (wFlags & ENTRY_HAS_REFS) counts.cWithReferences++;
        } else {
            counts.cDirectories++;
            if (const BYTE *child = LoadPtr32(record + offsetof(EntryRecord, u1))) pending.push_back(child);
        }
        offset += cbRecord;
    }
}

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
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        EntryPosition position{};
        if (!getEntry(0, root, &position)) continue;
        const BYTE *rootBlock = LoadPtr32(&position.pBlock);
        if (rootBlock == nullptr) continue;
        DriveCounts drive{letter, {}};
        // Depth-first with a stack of its own: a deep tree costs memory, not the call stack.
        std::vector<const BYTE *> pending{rootBlock};
        while (!pending.empty()) {
            const BYTE *block = pending.back();
            pending.pop_back();
            CountBlock(block, drive.counts, pending);
        }
        drives.push_back(drive);
    }
    return drives;
}

MapCounts TotalCounts(const std::vector<DriveCounts> &drives) {
    MapCounts total;
    for (const auto &drive : drives) total += drive.counts;
    return total;
}

}  // namespace drivemap
