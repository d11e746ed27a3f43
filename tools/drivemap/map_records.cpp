#include "map_records.h"

#include <cstdio>

namespace drivemap {

namespace {
constexpr DWORD kFileTailBytes = 8;  // wWriteDate, wWriteTime, wUsedDate, wUsedTime
}

bool ReadRecord(const BYTE *record, DWORD cbAvailable, RecordView &view) {
    view = RecordView();
    if (cbAvailable < kDirectoryRecordFixed) return false;
    const WORD cbRecord = LoadField<WORD>(record + offsetof(EntryRecord, wLength));
    if (cbRecord < kDirectoryRecordFixed || cbRecord > cbAvailable) return false;
    view.name = RecordName(record, cbRecord);
    view.wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
    view.isFile = (view.wFlags & ENTRY_IS_FILE) != 0;
    if (!view.isFile) {
        view.childBlock = LoadPtr32(record + offsetof(EntryRecord, u1));
        return true;
    }
    view.dwSize = LoadField<DWORD>(record + offsetof(EntryRecord, u1));
    view.wUsageCount = LoadField<WORD>(record + offsetof(EntryRecord, u2));
    DWORD offset = offsetof(EntryRecord, szName) + view.name.size() + 1;
    if (offset + kFileTailBytes > cbRecord) return false;
    view.wWriteDate = LoadField<WORD>(record + offset);
    view.wWriteTime = LoadField<WORD>(record + offset + 2);
    view.wUsedDate = LoadField<WORD>(record + offset + 4);
    view.wUsedTime = LoadField<WORD>(record + offset + 6);
    offset += kFileTailBytes;
    if (!(view.wFlags & ENTRY_SCANNED) || !(view.wFlags & ENTRY_HAS_REFS) || offset >= cbRecord) return true;
    const BYTE cReferences = record[offset++];
    for (BYTE i = 0; i < cReferences && offset < cbRecord; ++i) {
        const char *name = reinterpret_cast<const char *>(record + offset);
        const size_t cch = strnlen(name, cbRecord - offset);
        view.references.emplace_back(name, cch);
        offset += cch + 1;
    }
    return true;
}

bool ReadPositionRecord(const EntryPosition &position, RecordView &view) {
    const BYTE *block = LoadPtr32(&position.pBlock);
    const BYTE *record = LoadPtr32(&position.pEntry);
    if (block == nullptr || record == nullptr || record < block) return false;
    const DWORD cbUsed = LoadField<DWORD>(block + offsetof(DirectoryBlock, dwUsed));
    const DWORD offset = static_cast<DWORD>(record - block);
    return offset < cbUsed && ReadRecord(record, cbUsed - offset, view);
}

std::string DosStampText(WORD date, WORD time) {
    if (date == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 0xFu,
                  date & 0x1Fu, time >> 11, (time >> 5) & 0x3Fu, (time & 0x1Fu) * 2u);
    return text;
}

}  // namespace drivemap
