// The head of a map file read by drivemap itself: the 8-byte header and the drive table, which say
// how many directory blocks each drive's tree has in the file. The library drops blocks whose
// parent is missing without an error; comparing these counts with what a load holds tells the
// user that the file is damaged.
#pragma once

#include "map_statistics.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drivemap {

// The header and the drive table take at most this many bytes (26 drive records).
constexpr size_t kMapFileHeadMaxBytes = 8 + 9 * 26;

struct DeclaredDrive {
    char chLetter;
    uint32_t cBlocks;
};

struct MapFileHead {
    uint8_t bVersion;
    std::vector<DeclaredDrive> drives;  // in table order
};

// Reads the first `size` bytes of a map file of `fileSize` bytes (size <= fileSize). Nothing, with
// `error` set, when the bytes are no map file head or the counts cannot fit the file: a bad magic,
// a version below 3, more than 26 drives, a table that is cut or runs past the file, or more
// blocks than the rest of the file could hold (each takes at least 18 bytes).
std::optional<MapFileHead> ParseMapFileHead(const uint8_t *data, size_t size, uint64_t fileSize, std::string &error);

struct DroppedBlocks {
    char chLetter;
    uint32_t cDeclared;  // blocks the file holds for the drive
    uint64_t cLoaded;    // blocks the loaded map holds
};

// The drives whose loaded tree holds fewer blocks than the file declares for them; empty when the
// load took every block.
std::vector<DroppedBlocks> FindDroppedBlocks(const MapFileHead &head, const std::vector<DriveCounts> &loaded);

}  // namespace drivemap
