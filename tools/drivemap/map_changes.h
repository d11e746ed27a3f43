// What a sync changed in the map: every record before it, by a 64-bit hash of its full path,
// compared with the map after it. A hash in place of the path keeps the snapshot at 16 bytes a
// record; two paths of one map share its 62 bits with a chance of about 1 in 9 million for a
// million records.
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
    // Every record of the loaded map, which holds about cRecords (its list is sized once for them:
    // fresh memory costs a page fault a page). They are put in order on a thread of their own while
    // the caller goes on.
    MapSnapshot(GetEntryFunction getEntry, size_t cRecords);
    ~MapSnapshot();
    MapSnapshot(const MapSnapshot &) = delete;
    MapSnapshot &operator=(const MapSnapshot &) = delete;

    // The loaded map as it is now, compared with the snapshot. Each of its records is looked up in
    // the snapshot as it is read, so the map after the sync is never held a second time.
    MapChanges CompareWith(GetEntryFunction getEntry) const;

private:
    // A record: its path hash, whose lowest bit is replaced by whether it is a scanned executable
    // and the next by whether it is a directory, and the fields a sync may change.
    struct Entry {
        uint64_t key;
        DWORD dwSize;
        WORD wWriteDate, wWriteTime;

        Entry() {}  // left unset: the sort writes its scratch before it reads it
        Entry(uint64_t pathHash, bool directory, bool scanned, DWORD size, WORD date, WORD time)
            : key((pathHash & ~uint64_t{3}) | (directory ? kDirectoryBit : 0) | (scanned ? kScannedBit : 0)),
              dwSize(size),
              wWriteDate(date),
              wWriteTime(time) {}
        bool Directory() const { return (key & kDirectoryBit) != 0; }
        bool Scanned() const { return (key & kScannedBit) != 0; }
        uint64_t Path() const { return key >> 1; }  // the same for a path scanned or not
    };
    static constexpr uint64_t kScannedBit = 1, kDirectoryBit = 2;
    // The scan flags and reference names of a scanned executable, by its entry's key.
    struct Scan {
        uint64_t key;
        uint64_t hash;
    };

    // Calls add(entry, scanHash) for every record of the map, in map order (scanHash is 0 for a
    // record never scanned).
    template <typename Add>
    static void ForEachRecord(GetEntryFunction getEntry, Add add);
    // The entries of the snapshot in the bucket of this key, whose first is being fetched.
    struct Bucket {
        const Entry *first, *last;
    };
    Bucket BucketOf(uint64_t key) const;
    // The first entry of the bucket with this entry's path, or nullptr.
    static const Entry *Find(Bucket bucket, const Entry &entry);
    // The scan hash of a scanned entry of the snapshot.
    uint64_t ScanHashOf(const Entry &entry) const;
    // Waits for the snapshot's sort.
    void Sorted() const;

    std::vector<Entry> records_;  // by key; a path held twice is found at its first record
    std::vector<uint32_t> ends_;  // where each of the sort's buckets ends in records_
    std::vector<Scan> scans_;     // by key
    mutable std::thread sorting_;
    uint64_t cDirectories_ = 0, cFiles_ = 0;
};

// "Changed: 2 directories added, 1 file updated." or "Nothing changed."
std::string ChangesText(const MapChanges &changes);

}  // namespace drivemap
