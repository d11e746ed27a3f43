// The map file's bytes (PWDRVMAP.DAT), little-endian and packed: the 8-byte header, the drive
// table (9 bytes a drive, as DriveRecord), then every directory block as it lies in memory, each
// drive's blocks in depth-first pre-order (root first). No trailer, no checksum.
//
// Everything read from the file goes through the bounded reader and IsLoadedBlockWellFormed: the file is
// outside bytes, and a block is attached to the map only when every record lies inside it.
#pragma once

#include "pwdvmp32.h"
#include "store/module_state.h"

#include <cstddef>
#include <cstdint>

#define MAP_FILE_NAME "PWDRVMAP.DAT"
#define MAP_FILE_TEMP_PREFIX "PWD"  // the save writes a new PWDxxxx.TMP beside the map file, then renames it
#define MAP_FILE_MAGIC "NRPS"
#define MAP_FILE_VERSION 3
#define MAP_FILE_MAX_DRIVES DRIVE_TABLE_SIZE
#define MAP_READ_CHUNK_SIZE 0x20000  // 128 KB: the read buffer, and the largest block read through it

#pragma pack(push, 1)
struct MapFileHeader {
    CHAR achMagic[4];   // "NRPS", no terminator
    BYTE bVersion;      // MAP_FILE_VERSION; readers take anything from 3 up
    BYTE bDriveCount;   // drive records that follow, at most 26
    WORD wNextBlockId;  // low 16 bits of the next block id counter
};
#pragma pack(pop)
static_assert(sizeof(MapFileHeader) == 8, "the header is 8 bytes");
static_assert(offsetof(MapFileHeader, bVersion) == 4 && offsetof(MapFileHeader, bDriveCount) == 5 &&
                  offsetof(MapFileHeader, wNextBlockId) == 6,
              "header fields");
static_assert(sizeof(DriveRecord) == 9 && offsetof(DriveRecord, wBlockCount) == 1 &&
                  offsetof(DriveRecord, wBlocksLoaded) == 3 && offsetof(DriveRecord, pRootBlock) == 5,
              "drive records are stored as they lie in memory");

// 1 when the cbBlock bytes at pbBlock are a block the map can hold: dwUsed equals cbBlock (at
// least 18); wEntryCount records that lie inside it end to end and fill it exactly; each record's
// wLength is exactly its content (name and NUL, a file's 8-byte tail, and with ENTRY_SCANNED and
// ENTRY_HAS_REFS a non-zero reference count and that many NUL-terminated names); no flag bits
// beyond ENTRY_PE.
[[nodiscard]] BOOL IsLoadedBlockWellFormed(const BYTE *pbBlock, uint64_t cbBlock);
