#include "common/map_file_builder.h"

#include "common/exe_builder.h"

namespace {

void PutWord(std::string &s, uint16_t v) { PutLe16(s, s.size(), v); }
void PutDword(std::string &s, uint32_t v) { PutLe32(s, s.size(), v); }

}  // namespace

MapFileRecord DirRecord(const std::string &name, uint16_t childId) {
    return MapFileRecord{false, name, childId, 0, {}};
}

MapFileRecord FileRecord(const std::string &name, uint32_t cbSize, std::vector<std::string> references) {
    return MapFileRecord{true, name, 0, cbSize, std::move(references)};
}

std::string MapFileRecordBytes(const MapFileRecord &r) {
    const bool refs = r.fFile && !r.references.empty();
    std::string bytes;
    PutWord(bytes, 0);  // wLength, set last
    PutWord(bytes, r.fFile ? (refs ? 0x000F : 0x0001) : 0);
    PutDword(bytes, r.fFile ? r.dwFileSize : 0);
    PutWord(bytes, r.fFile ? 0 : r.wChildId);
    bytes += r.name + '\0';
    if (r.fFile)  // the tail's DOS words: written 1999-12-31 23:59:58, used 2000-01-01 00:00:00
        for (int w : {(1999 - 1980) * 512 + 12 * 32 + 31, 23 * 2048 + 59 * 32 + 29, (2000 - 1980) * 512 + 32 + 1, 0})
            PutWord(bytes, static_cast<uint16_t>(w));
    if (refs) bytes.push_back(static_cast<char>(r.references.size()));
    for (const std::string &ref : refs ? r.references : std::vector<std::string>{}) bytes += ref + '\0';
    PutLe16(bytes, 0, static_cast<uint16_t>(bytes.size()));
    return bytes;
}

std::string MapFileBlockBytes(const MapFileBlock &block) {
    std::string records, bytes(8, '\0');  // pNext and pParent
    for (const MapFileRecord &r : block.records) records += MapFileRecordBytes(r);
    PutWord(bytes, block.wBlockId);
    PutWord(bytes, block.wParentId);
    PutDword(bytes, static_cast<uint32_t>(18 + records.size()));
    PutWord(bytes, static_cast<uint16_t>(block.records.size()));
    return bytes + records;
}

std::string BuildMapFile(const MapFileDescription &d) {
    std::string bytes = "NRPS";
    bytes.push_back(static_cast<char>(d.bVersion));
    bytes.push_back(static_cast<char>(d.drives.size()));
    PutWord(bytes, d.wNextBlockId);
    for (const MapFileDrive &drive : d.drives) {
        bytes.push_back(drive.chLetter);
        PutWord(bytes, static_cast<uint16_t>(drive.wBlockCount >= 0 ? drive.wBlockCount : drive.blocks.size()));
        bytes.append(6, '\0');  // wBlocksLoaded and pRootBlock
    }
    for (const MapFileDrive &drive : d.drives)
        for (const MapFileBlock &block : drive.blocks) bytes += MapFileBlockBytes(block);
    return bytes;
}

size_t MapFileBlockOffset(const MapFileDescription &d, size_t index) {
    size_t offset = 8 + 9 * d.drives.size();
    for (const MapFileDrive &drive : d.drives)
        for (const MapFileBlock &block : drive.blocks) {
            if (index-- == 0) return offset;
            offset += MapFileBlockBytes(block).size();
        }
    return offset;
}

MapFileDescription SampleMapDescription() {
    MapFileDescription m;
    m.wNextBlockId = 4;
    m.drives = {{'C',
                 {{0, 0, {DirRecord("Sub", 1), FileRecord("f.txt", 5)}},
                  {1, 0, {DirRecord("Deep", 2), FileRecord("a.txt", 7)}},
                  {2, 1, {FileRecord("x.exe", 4096, {"kernel32.dll", "user32.dll"})}}}},
                {'D', {{3, 0, {FileRecord("d.txt", 1)}}}}};
    return m;
}
