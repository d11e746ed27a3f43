// drivemap's reader of a map file's head on arbitrary bytes: the first bytes are the head, and the
// file is as long as the input says. It must stay inside the buffer, and what it accepts must add
// up: at most 26 drives, and no more blocks than the file could hold.
#include "map_file_head.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    // The first four bytes say how much longer than the given bytes the file is.
    uint32_t extra;
    std::memcpy(&extra, data, sizeof extra);
    const std::vector<uint8_t> head(data + 4, data + size);  // an exact-size copy, for the sanitizer
    const uint64_t fileSize = head.size() + extra;

    std::string error;
    const auto parsed = drivemap::ParseMapFileHead(head.data(), head.size(), fileSize, error);
    if (!parsed) {
        if (error.empty()) abort();
        return 0;
    }
    if (parsed->drives.size() > 26 || parsed->bVersion < 3) abort();
    uint64_t cBlocks = 0;
    for (const auto &drive : parsed->drives) cBlocks += drive.cBlocks;
    if (8 + 9 * parsed->drives.size() + 18 * cBlocks > fileSize) abort();

    // Compared with a load that kept nothing, every drive with blocks is reported.
    const auto dropped = drivemap::FindDroppedBlocks(*parsed, {});
    for (const auto &d : dropped)
        if (d.cLoaded != 0 || d.cDeclared == 0) abort();
    return 0;
}
