#include "common/map_file_builder.h"

namespace {

void PutWord(std::string &s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
void PutDword(std::string &s, uint32_t v) {
    PutWord(s, static_cast<uint16_t>(v & 0xFFFF));
    PutWord(s, static_cast<uint16_t>(v >> 16));
}

}  // namespace

MapFileRecord DirRecord(const std::string &name, uint16_t childId) {
    MapFileRecord r;
    r.name = name;
    r.wChildId = childId;
    return r;
}

MapFileRecord FileRecord(const std::string &name, uint32_t cbSize, std::vector<std::string> references) {
    MapFileRecord r;
    r.fFile = true;
    r.name = name;
    r.dwFileSize = cbSize;
    r.references = std::move(references);
    return r;
}

std::string MapFileRecordBytes(const MapFileRecord &r) {
    std::string body;
    uint16_t flags = 0;
    if (r.fFile) {
        flags = 0x0001;
        if (!r.references.empty()) flags |= 0x0002 | 0x0004 | 0x0008;
        PutDword(body, r.dwFileSize);
        PutWord(body, 0);
    } else {
        PutDword(body, 0);
        PutWord(body, r.wChildId);
    }
    body += r.name;
    body.push_back('\0');
    if (r.fFile) {
        PutWord(body, (1999 - 1980) * 512 + 12 * 32 + 31);
        PutWord(body, 23 * 2048 + 59 * 32 + 29);
        PutWord(body, (2000 - 1980) * 512 + 1 * 32 + 1);
        PutWord(body, 0);
        if (!r.references.empty()) {
            body.push_back(static_cast<char>(r.references.size()));
            for (const std::string &ref : r.references) body += ref + '\0';
        }
    }
    std::string bytes;
    PutWord(bytes, static_cast<uint16_t>(body.size() + 4));
    PutWord(bytes, flags);
    return bytes + body;
}

std::string MapFileBlockBytes(const MapFileBlock &block) {
    std::string records;
    for (const MapFileRecord &r : block.records) records += MapFileRecordBytes(r);
    std::string bytes;
    PutDword(bytes, 0);
    PutDword(bytes, 0);
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
        PutWord(bytes, 0);
        PutDword(bytes, 0);
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
