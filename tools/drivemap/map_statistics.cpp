#include "map_statistics.h"

#include <algorithm>
#include <array>
#include <utility>

namespace drivemap {
namespace {

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
        WalkBlocks(
            rootBlock, std::string(), /*withPaths=*/false,
            [&](const BYTE *block) {
                counts.cBlocks++;
                counts.cbBlocks += LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
            },
            [&](const BYTE *record, WORD, const std::string &) {
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
    // Every extension of the list has two or three characters, all ASCII: each is compared as the
    // bytes of its lower-case form packed into one number.
    const std::string_view extension = name.substr(dot + 1);
    if (extension.size() < 2 || extension.size() > 3) return false;
    const auto packed = [](std::string_view text) {
        uint32_t key = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            key |= static_cast<uint32_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) << (8 * i);
        }
        return key;
    };
    static const auto keys = [&] {
        std::array<uint32_t, std::size(kExecutableExtensions)> all{};
        for (size_t i = 0; i < all.size(); ++i) all[i] = packed(kExecutableExtensions[i]);
        return all;
    }();
    return std::find(keys.begin(), keys.end(), packed(extension)) != keys.end();
}

uint64_t ForEachUnscannedExecutable(GetEntryFunction getEntry, const std::function<void(const std::string &)> &visit) {
    uint64_t count = 0;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        WalkBlocks(
            rootBlock, std::string{letter, ':', '\\'}, /*withPaths=*/static_cast<bool>(visit), [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, const std::string &directory) {
                const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
                const std::string_view nameView = RecordName(record, cbRecord);
                if (!(wFlags & ENTRY_IS_FILE) || (wFlags & ENTRY_SCANNED) || !HasExecutableExtension(nameView)) return;
                ++count;
                if (visit) visit(directory + std::string(nameView));
            });
    });
    return count;
}

}  // namespace drivemap
