#include "store/entry_records.h"

#include <cstring>

BYTE *GetFileTail(const EntryRecord *e) {
    LPSTR name = GetEntryName(e);
    return reinterpret_cast<BYTE *>(name) + std::strlen(name) + 1;
}

BYTE *GetReferencePart(const EntryRecord *e) {
    const WORD needed = ENTRY_IS_FILE | ENTRY_SCANNED | ENTRY_HAS_REFS;
    if ((GetEntryFlags(e) & needed) != needed) return nullptr;
    return GetFileTail(e) + ENTRY_FILE_TAIL_SIZE;
}

EntryRecord *FindEntryByName(const DirectoryBlock *block, LPCSTR name, BOOL directoriesOnly) {
    if (block == nullptr) return nullptr;
    return ForEachEntry(block, [&](const EntryRecord *entry) {
        return !(directoriesOnly && IsFile(entry)) && lstrcmpiA(GetEntryName(entry), name) == 0;
    });
}

EntryRecord *FindEntryByChildId(const DirectoryBlock *block, WORD id) {
    if (block == nullptr) return nullptr;
    return ForEachEntry(block, [&](const EntryRecord *entry) { return !IsFile(entry) && GetChildId(entry) == id; });
}
