// What a sync changed in the map: every record before it, by a 64-bit hash of its full path,
// compared with the map after it. A hash in place of the path keeps the snapshot at 32 bytes a
// record; two paths of one map share a hash with a chance of about 1 in 10^9 for a million records.
#pragma once

#include "map_records.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace drivemap {

struct MapChanges {
    uint64_t directoriesAdded = 0;
    uint64_t directoriesRemoved = 0;
    uint64_t filesAdded = 0;
    uint64_t filesRemoved = 0;
    uint64_t filesUpdated = 0;          // size or write stamp differs
    uint64_t executablesRescanned = 0;  // scanned executables before, whose size or references changed

    bool Any() const;
};

class MapSnapshot {
public:
    // Every record of the loaded map, which holds about cRecords (its lists are sized once for them:
    // fresh memory costs a page fault a page). They are put in order on a thread of their own while
    // the caller goes on.
    MapSnapshot(GetEntryFunction getEntry, size_t cRecords);
    ~MapSnapshot();
    MapSnapshot(const MapSnapshot &) = delete;
    MapSnapshot &operator=(const MapSnapshot &) = delete;

    // The loaded map as it is now, compared with the snapshot.
    MapChanges CompareWith(GetEntryFunction getEntry) const;

private:
    struct Record {
        bool directory;
        WORD wWriteDate, wWriteTime;
        DWORD dwSize;
        uint64_t scanHash;  // the scan flags and reference names; 0 for a record never scanned
    };

    struct Entry {
        uint64_t pathHash;
        Record record;

        Entry() {}  // left unset: the sort writes its scratch before it reads it
        Entry(uint64_t hash, const Record &r) : pathHash(hash), record(r) {}
    };

    struct Lists {
        std::vector<Entry> records, scratch;
        std::vector<uint32_t> counts;
    };

    // Every record of the loaded map into lists.records, in map order.
    static void Records(GetEntryFunction getEntry, Lists &lists);
    // Sorts lists.records by path hash and keeps the first record of each path.
    static void SortByPath(Lists &lists);
    // Waits for the snapshot's sort.
    void Sorted() const;

    mutable Lists lists_;  // the comparison reuses the scratch lists
    mutable std::thread sorting_;
    uint64_t cDirectories_ = 0, cFiles_ = 0;
};

// "Changed: 2 directories added, 1 file updated." or "Nothing changed."
std::string ChangesText(const MapChanges &changes);

}  // namespace drivemap
