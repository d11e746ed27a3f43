#include "common/map_dump.h"

#include "store/entry_records.h"
#include "store/module_state.h"

#include <algorithm>
#include <cstring>

namespace {

// One line per record: its path, flags, size or child, write stamp and references; with `usage`
// also its usage count and used stamp. Records in block order.
void DumpBlock(const DirectoryBlock *block, const std::string &path, bool usage, std::vector<std::string> &out) {
    ForEachEntry(block, [&](const EntryRecord *e) {
        std::string line = path + "\\" + GetEntryName(e) + " flags=" + std::to_string(GetEntryFlags(e));
        if (!IsFile(e)) {
            out.push_back(line);
            if (GetChildBlock(e) != nullptr) DumpBlock(GetChildBlock(e), path + "\\" + GetEntryName(e), usage, out);
            return;
        }
        const BYTE *tail = GetFileTail(e);
        line += " size=" + std::to_string(GetEntryFileSize(e)) +
                " written=" + std::to_string(LoadField<WORD>(tail + FILE_TAIL_WRITE_DATE)) + "/" +
                std::to_string(LoadField<WORD>(tail + FILE_TAIL_WRITE_TIME));
        if (usage)
            line += " used=" + std::to_string(GetUsageCount(e)) + "@" +
                    std::to_string(LoadField<WORD>(tail + FILE_TAIL_USED_DATE)) + "/" +
                    std::to_string(LoadField<WORD>(tail + FILE_TAIL_USED_TIME));
        if (const BYTE *refs = GetReferencePart(e)) {
            const char *name = reinterpret_cast<const char *>(refs + 1);
            for (BYTE n = *refs; n > 0; --n, name += std::strlen(name) + 1) line += std::string(" ref=") + name;
        }
        out.push_back(line);
    });
}

}  // namespace

std::vector<std::string> DumpMap(bool usage) {
    std::vector<std::string> out;
    for (DWORD i = 0; i < gDriveTable.dwCount; ++i) {
        const DriveRecord *drive = &gDriveTable.records[i];
        const std::string letter(1, static_cast<char>(drive->chLetter));
        out.push_back("drive " + letter + " root=" + (GetDriveRoot(drive) ? "yes" : "no"));
        if (GetDriveRoot(drive) != nullptr) DumpBlock(GetDriveRoot(drive), letter + ":", usage, out);
    }
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}
