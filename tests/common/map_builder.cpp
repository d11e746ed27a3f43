#include "common/map_builder.h"

#include "common/exe_builder.h"

#include "store/map_release.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/path_utils.h"

#include <cstring>
#include <string>

namespace {

const WORD WRITE_DATE = (1999 - 1980) * 512 + 12 * 32 + 31, WRITE_TIME = 23 * 2048 + 59 * 32 + 29;
const WORD USED_DATE = (2000 - 1980) * 512 + 1 * 32 + 1, USED_TIME = 0;

// Appends the record in `bytes` through AppendEntryCopy, from a scratch block of global memory
// (the position's 32-bit pointer must hold global memory).
EntryRecord *AppendRecord(DirectoryBlock **block, const std::string &bytes) {
    DWORD cbScratch = static_cast<DWORD>(bytes.size());
    void *scratch = AllocLockedBuffer(&cbScratch, 0);
    if (scratch == nullptr) return nullptr;
    std::memcpy(scratch, bytes.data(), bytes.size());
    EntryPosition position;
    StorePtr32(&position.pBlock, nullptr);
    StorePtr32(&position.pEntry, scratch);
    EntryRecord *copy = AppendEntryCopy(*block, &position, block);
    FreeLockedBuffer(scratch);
    return copy;
}

// wLength, wFlags, the file size (0 for a directory) and a zero wChildId, then the name.
std::string RecordHeader(WORD cbLength, WORD flags, DWORD cbSize, const char *name) {
    std::string bytes;
    PutLe16(bytes, 0, cbLength), PutLe16(bytes, 2, flags), PutLe32(bytes, 4, cbSize), PutLe16(bytes, 8, 0);
    return bytes + name + '\0';
}

}  // namespace

void ResetTestMap() {
    ReleaseMap();
    gOperationMode = MODE_UPDATE;
    gCurrentDrive = nullptr;
    gShrinkPending = 0;
}

DirectoryBlock *BuildDrive(char letter) {
    const char path[] = {letter, ':', '\\', '\0'};
    DriveRecord *drive = AddDriveRecord(path);
    if (drive == nullptr) return nullptr;
    gCurrentDrive = drive;
    return CreateDirectoryBlock(nullptr);
}

void SelectDriveOf(const DirectoryBlock *block) {
    while (GetBlockParent(block) != nullptr) block = GetBlockParent(block);
    for (DWORD i = 0; i < gDriveTable.dwCount; ++i) {
        if (GetDriveRoot(&gDriveTable.records[i]) == block) gCurrentDrive = &gDriveTable.records[i];
    }
}

DirectoryBlock *BuildDirectory(DirectoryBlock **block, const char *name) {
    const WORD cbLength = static_cast<WORD>(DIR_RECORD_SIZE(std::strlen(name)));
    EntryRecord *record = AppendRecord(block, RecordHeader(cbLength, 0, 0, name));
    if (record == nullptr) return nullptr;
    SelectDriveOf(*block);
    DirectoryBlock *child = CreateDirectoryBlock(*block);
    if (child == nullptr) return nullptr;
    SetChildBlock(record, child);
    SetChildId(record, GetBlockId(child));
    return child;
}

EntryRecord *BuildFile(DirectoryBlock **block, const char *name, DWORD cbSize,
                       std::initializer_list<const char *> references, WORD extraFlags) {
    WORD flags = static_cast<WORD>(ENTRY_IS_FILE | extraFlags);
    std::string tail(ENTRY_FILE_TAIL_SIZE, '\0');
    const WORD stamps[4] = {WRITE_DATE, WRITE_TIME, USED_DATE, USED_TIME};
    std::memcpy(&tail[0], stamps, sizeof stamps);
    std::string refs;
    if (references.size() != 0) {
        flags |= ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_HAS_REFS;
        refs.push_back(static_cast<char>(references.size()));
        for (const char *reference : references) refs.append(reference, std::strlen(reference) + 1);
    }
    const WORD cbLength = static_cast<WORD>(FILE_RECORD_SIZE(std::strlen(name)) + refs.size());
    return AppendRecord(block, RecordHeader(cbLength, flags, cbSize, name) + tail + refs);
}

EntryRecord *FindTestEntry(const DirectoryBlock *block, const char *path) {
    std::string rest(path);
    while (block != nullptr) {
        const size_t slash = rest.find('\\');
        const std::string component = rest.substr(0, slash);
        const BOOL directoriesOnly = slash != std::string::npos;
        EntryRecord *entry = FindEntryByName(block, component.c_str(), directoriesOnly);
        if (slash == std::string::npos || entry == nullptr) return entry;
        block = IsFile(entry) ? nullptr : GetChildBlock(entry);
        rest.erase(0, slash + 1);
    }
    return nullptr;
}
