// What a drive map holds, counted by walking it through the public record layouts: each drive's
// root block from DriveMap_GetEntry, then the records of every block and the child blocks of the
// directory records.
#pragma once

#include "map_records.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace drivemap {

struct MapCounts {
    uint64_t cDirectories = 0;     // directory records (a drive's root is not one)
    uint64_t cFiles = 0;           // file records
    uint64_t cNeExecutables = 0;   // ENTRY_SCANNED without ENTRY_PE
    uint64_t cPeExecutables = 0;   // ENTRY_SCANNED with ENTRY_PE
    uint64_t cWithReferences = 0;  // ENTRY_HAS_REFS
    uint64_t cBlocks = 0;
    uint64_t cbBlocks = 0;  // the blocks' dwUsed, headers included
    uint64_t cbFiles = 0;   // the files' sizes (low 32 bits each, as recorded)

    MapCounts &operator+=(const MapCounts &other);
};

struct DriveCounts {
    char chLetter;
    MapCounts counts;
};

// Counts every drive of the loaded map, A: to Z:, through `getEntry` (DriveMap_GetEntry of the
// loaded library). A drive the lookup does not find is not in the map.
std::vector<DriveCounts> CollectMapStatistics(GetEntryFunction getEntry);

MapCounts TotalCounts(const std::vector<DriveCounts> &drives);

// Whether a file name ends in an extension that NE and PE executables carry (exe, dll, com, drv,
// sys, ocx, cpl, scr, vxd, fon, ...), ignoring case.
bool HasExecutableExtension(std::string_view name);

// Counts the file records of the loaded map that have an executable's extension but are not held
// as scanned NE or PE executables, and hands each one's full Windows path to `visit` (when set).
uint64_t ForEachUnscannedExecutable(GetEntryFunction getEntry, const std::function<void(const std::string &)> &visit);

}  // namespace drivemap
