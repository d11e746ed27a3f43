// What a build or sync left out of the map, or holds differently from the disks, and why: the
// host layer's listings report most of it through HostMachine_ObserveListings while the scan
// runs; the executables that were not scanned are counted from the map afterwards.
#pragma once

#include "map_statistics.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace drivemap {

enum class Reported {
    kGeneratedName,  // a name Windows cannot hold, shown under a generated name
    kCaseTwin,       // left out: another entry differs from it only in case
    kNameTooLong,    // left out: a name of more than 259 bytes
    kOtherFileSystem,
    kUnreadable,  // a directory that cannot be read, mapped as empty
    kDotDirectory,
    kPathTooLong,
    kFile4GiB,
    kUnscannedExecutable,  // an executable's extension, not held as a scanned NE/PE executable
};
constexpr size_t kReportedKinds = 9;

struct ReportedItem {
    std::string directory;  // Windows path of the directory that holds it (the whole path for
                            // kUnscannedExecutable and kUnreadable)
    std::string hostName;   // the name on the host
    std::string shownAs;    // the name Windows programs see (generated names only)
};

struct ScanReport {
    std::array<uint64_t, kReportedKinds> counts{};
    std::array<std::vector<ReportedItem>, kReportedKinds> items;  // kept with `keepItems`
    bool keepItems = false;
    bool itemsIncomplete = false;  // memory ran out while keeping items: counts still hold

    void Add(Reported kind, ReportedItem item);
};

// Collects the host layer's listing reports into `report` while it exists.
class ListingObserver {
public:
    explicit ListingObserver(ScanReport &report);
    ~ListingObserver();
    ListingObserver(const ListingObserver &) = delete;
    ListingObserver &operator=(const ListingObserver &) = delete;
};

// Counts the executables of the loaded map that were not scanned.
void CountUnscannedExecutables(GetEntryFunction getEntry, ScanReport &report);

// The report as text lines: one per kind met, with its items under it when they were kept.
// `afterSync` says what an unreadable directory cost. Empty when nothing was met.
std::string ReportText(const ScanReport &report, bool afterSync);

// The report as JSON: every kind with its count, and its items when they were kept (fewer items
// than the count when memory ran out while keeping them). Windows paths and names decoded as code
// page 1252, host names as the bytes they are.
nlohmann::json ReportJson(const ScanReport &report);

}  // namespace drivemap
