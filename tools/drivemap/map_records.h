// Reading the loaded map through the public record layouts, as any client of the library may: a
// drive's root block from DriveMap_GetEntry, the records of each block, and the child blocks of
// the directory records. Every read stays inside the block's used bytes and the record's length.
#pragma once

#include "pwdvmp32.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace drivemap {

typedef BOOL(WINAPI *GetEntryFunction)(DWORD callerValue, LPCSTR path, EntryPosition *position);

// Record fields are unaligned; pointer fields are 32 bits wide and hold global memory, which lies
// below 4 GiB, so they are read zero-extended.
template <typename T>
T LoadField(const void *field) {
    T value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

inline const BYTE *LoadPtr32(const void *field) {
    return reinterpret_cast<const BYTE *>(static_cast<uintptr_t>(LoadField<PTR32>(field)));
}

constexpr DWORD kDirectoryRecordFixed = offsetof(EntryRecord, szName) + 1;

// The name of a record of cbRecord bytes (at least kDirectoryRecordFixed), never past the record.
inline std::string_view RecordName(const BYTE *record, WORD cbRecord) {
    const char *name = reinterpret_cast<const char *>(record + offsetof(EntryRecord, szName));
    return std::string_view(name, strnlen(name, cbRecord - offsetof(EntryRecord, szName)));
}

// A record decoded: every field a client may read, and the module names of a scanned executable.
struct RecordView {
    std::string_view name;
    WORD wFlags = 0;
    bool isFile = false;
    DWORD dwSize = 0;                          // files: low 32 bits of the size
    WORD wUsageCount = 0;                      // files
    WORD wWriteDate = 0, wWriteTime = 0;       // files: DOS date and time of the last write
    WORD wUsedDate = 0, wUsedTime = 0;         // files: DOS date and time of the last recorded use
    const BYTE *childBlock = nullptr;          // directories: their block, null until linked
    std::vector<std::string_view> references;  // lower-case module names, in stored order
};

// Decodes the record at `record`, which may use at most `cbAvailable` bytes. False when the record
// does not fit or its length cannot hold its fields.
bool ReadRecord(const BYTE *record, DWORD cbAvailable, RecordView &view);

// The record a position names (its pEntry); false for a drive's root (no record).
bool ReadPositionRecord(const EntryPosition &position, RecordView &view);

// Each record of `block`, in stored order, while it lies within the block's used bytes:
// onRecord(record, cbRecord). onRecord returns false to stop.
template <typename OnRecord>
void ForEachBlockRecord(const BYTE *block, OnRecord onRecord) {
    const DWORD cbUsed = LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
    const WORD cEntries = LoadField<WORD>(block + offsetof(DirectoryBlock, wEntryCount));
    DWORD offset = sizeof(DirectoryBlock);
    for (WORD i = 0; i < cEntries && offset + kDirectoryRecordFixed <= cbUsed; ++i) {
        const BYTE *record = block + offset;
        const WORD cbRecord = LoadField<WORD>(record + offsetof(EntryRecord, wLength));
        if (cbRecord < kDirectoryRecordFixed || offset + cbRecord > cbUsed) break;
        if (!onRecord(record, cbRecord)) break;
        offset += cbRecord;
    }
}

// Walks every block below and including `topBlock` depth-first, with a stack of its own (a deep
// tree costs memory, not the call stack), carrying a value for each block: `topValue` for the top
// one, childValue(value, record, cbRecord) for the block of one of its directory records. Calls
// onBlock(block) for each, then onRecord(record, cbRecord, value) for each of its records.
template <typename Value, typename ChildValue, typename OnBlock, typename OnRecord>
void WalkBlocksWith(const BYTE *topBlock, Value topValue, ChildValue childValue, OnBlock onBlock, OnRecord onRecord) {
    std::vector<std::pair<const BYTE *, Value>> pending;
    pending.emplace_back(topBlock, std::move(topValue));
    while (!pending.empty()) {
        const std::pair<const BYTE *, Value> current = std::move(pending.back());
        pending.pop_back();
        onBlock(current.first);
        ForEachBlockRecord(current.first, [&](const BYTE *record, WORD cbRecord) {
            onRecord(record, cbRecord, current.second);
            const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
            const BYTE *child = LoadPtr32(record + offsetof(EntryRecord, u1));
            if (!(wFlags & ENTRY_IS_FILE) && child != nullptr)
                pending.emplace_back(child, childValue(current.second, record, cbRecord));
            return true;
        });
    }
}

// WalkBlocks with each block's directory path ("C:\", "C:\DIR\") as its value, `topPath` for
// `topBlock`; paths are built only when `withPaths` is set (empty otherwise).
template <typename OnBlock, typename OnRecord>
void WalkBlocks(const BYTE *topBlock, const std::string &topPath, bool withPaths, OnBlock onBlock, OnRecord onRecord) {
    WalkBlocksWith(
        topBlock, withPaths ? topPath : std::string(),
        [withPaths](const std::string &path, const BYTE *record, WORD cbRecord) {
            return withPaths ? path + std::string(RecordName(record, cbRecord)) + "\\" : std::string();
        },
        onBlock, onRecord);
}

// Each drive of the loaded map, A: to Z:, with its root block. A drive the lookup does not find is
// not in the map.
template <typename OnDrive>
void ForEachDrive(GetEntryFunction getEntry, OnDrive onDrive) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        EntryPosition position{};
        if (!getEntry(0, root, &position)) continue;
        if (const BYTE *rootBlock = LoadPtr32(&position.pBlock)) onDrive(letter, rootBlock);
    }
}

// A DOS date and time as "YYYY-MM-DD HH:MM:SS"; "-" for a zero date (never stamped).
std::string DosStampText(WORD date, WORD time);

}  // namespace drivemap
