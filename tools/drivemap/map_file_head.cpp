#include "map_file_head.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace drivemap {
namespace {

constexpr size_t kHeaderBytes = 8;
constexpr size_t kDriveRecordBytes = 9;
constexpr uint64_t kMinBlockBytes = 18;
constexpr unsigned kMaxDrives = 26;

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

std::optional<MapFileHead> ParseMapFileHead(const uint8_t *data, size_t size, uint64_t fileSize, std::string &error) {
    if (size > fileSize) size = static_cast<size_t>(fileSize);
    if (size < kHeaderBytes || std::memcmp(data, "NRPS", 4) != 0) {
        error = "it does not begin with a map file header";
        return std::nullopt;
    }
    MapFileHead head{data[4], {}};
    const unsigned cDrives = data[5];
    if (head.bVersion < 3) {
        error = "its format version " + std::to_string(head.bVersion) + " is older than 3";
        return std::nullopt;
    }
    if (cDrives > kMaxDrives) {
        error = "its header counts " + std::to_string(cDrives) + " drives, more than 26";
        return std::nullopt;
    }
    const size_t cbTable = kDriveRecordBytes * cDrives;
    if (size - kHeaderBytes < cbTable) {
        error = "its drive table is cut short";
        return std::nullopt;
    }
    uint64_t cBlocks = 0;
    for (unsigned i = 0; i < cDrives; ++i) {
        const uint8_t *record = data + kHeaderBytes + kDriveRecordBytes * i;
        // The library finds a drive by its letter ignoring case.
        head.drives.push_back({static_cast<char>(std::toupper(record[0])), Le16(record + 1)});
        cBlocks += head.drives.back().cBlocks;
    }
    if (cBlocks > (fileSize - kHeaderBytes - cbTable) / kMinBlockBytes) {
        error = "its drive table counts more blocks than the file can hold";
        return std::nullopt;
    }
    return head;
}

std::vector<DroppedBlocks> FindDroppedBlocks(const MapFileHead &head, const std::vector<DriveCounts> &loaded) {
    // A letter could appear twice in a damaged table; its counts add up, in the order first seen.
    std::vector<DroppedBlocks> drives;
    for (const DeclaredDrive &d : head.drives) {
        auto it = std::find_if(drives.begin(), drives.end(), [&](auto &x) { return x.chLetter == d.chLetter; });
        if (it == drives.end()) it = drives.insert(drives.end(), {d.chLetter, 0, 0});
        it->cDeclared += d.cBlocks;
    }
    for (DroppedBlocks &d : drives)
        for (const DriveCounts &l : loaded)
            if (l.chLetter == d.chLetter) d.cLoaded += l.counts.cBlocks;
    std::erase_if(drives, [](const DroppedBlocks &d) { return d.cLoaded >= d.cDeclared; });
    return drives;
}

}  // namespace drivemap
