// Map files written byte by byte from a description, independently of the library's writer: the
// header, the drive table, then each drive's blocks in the order given. Pointer fields and
// wBlocksLoaded are 0, as the library writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MapFileRecord {
    bool fFile = false;
    std::string name;
    uint16_t wChildId = 0;                // directories
    uint32_t dwFileSize = 0;              // files
    std::vector<std::string> references;  // files: scanned executable with these references
};

struct MapFileBlock {
    uint16_t wBlockId = 0, wParentId = 0;
    std::vector<MapFileRecord> records;
};

struct MapFileDrive {
    char chLetter = 'C';
    std::vector<MapFileBlock> blocks;
    int wBlockCount = -1;  // -1: the number of blocks given
};

struct MapFileDescription {
    uint8_t bVersion = 3;
    uint16_t wNextBlockId = 0;
    std::vector<MapFileDrive> drives;
};

MapFileRecord DirRecord(const std::string &name, uint16_t childId);
// The tail carries the stamps BuildFile (map_builder.h) gives: written 1999-12-31 23:59:58, used
// 2000-01-01 00:00:00.
MapFileRecord FileRecord(const std::string &name, uint32_t cbSize = 0, std::vector<std::string> references = {});

// A small map of two drives: C with a root, "Sub" and "Sub\Deep" (which holds a scanned executable
// with two references) and D with one file. Next block id 4.
MapFileDescription SampleMapDescription();

std::string MapFileRecordBytes(const MapFileRecord &record);
std::string MapFileBlockBytes(const MapFileBlock &block);
std::string BuildMapFile(const MapFileDescription &description);

// Offset in the file of block `index` (counting every drive's blocks in order).
size_t MapFileBlockOffset(const MapFileDescription &description, size_t index);
