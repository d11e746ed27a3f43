// Single records added to a block, and the directories of a whole path.
#include "store/add_entry.h"

#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/find_entry.h"
#include "support/path_utils.h"

#include <cstring>

EntryRecord *AddEntry(DirectoryBlock *block, LPCSTR name, LPCSTR fullPath, BOOL isDirectory, WORD usageCount) {
    if (block == nullptr || name == nullptr || (!isDirectory && fullPath == nullptr)) return nullptr;
    if (GetBlockEntryCount(block) == 0xFFFF) return nullptr;

    // The map records only files that are there; the mask passes directories over.
    FIND_DATA find;
    std::memset(&find, 0, sizeof find);
    if (!isDirectory) {
        HANDLE hFind = FindFirstEntry(fullPath, SEARCH_FILES_ONLY, &find);
        if (hFind == INVALID_HANDLE_VALUE) return nullptr;
        FindCloseEntry(hFind);
    }

    BYTE header[ENTRY_HEADER_SIZE];
    DWORD cbReferences = 0, cReferences = 0;
    if (!BuildEntryHeader(name, fullPath, isDirectory, header, &cbReferences, &cReferences)) return nullptr;
    const WORD cbRecord = GetEntryLength(reinterpret_cast<EntryRecord *>(header));

    const DWORD cbUsed = GetBlockUsed(block);
    block = GrowBlock(block, cbUsed + cbRecord);
    if (block == nullptr) return nullptr;
    auto *record = reinterpret_cast<EntryRecord *>(BlockEnd(block));

    std::memcpy(record, header, ENTRY_HEADER_SIZE);
    if (isDirectory) {
        // The block is at its final address now, so the child's pParent stays right.
        DirectoryBlock *child = CreateDirectoryBlock(block);
        if (child == nullptr) {
            std::memset(record, 0, cbRecord);  // grown but unused: dwUsed still ends before it
            return nullptr;
        }
        SetChildBlock(record, child);
        SetChildId(record, GetBlockId(child));
    } else {
        SetEntryFileSize(record, find.nFileSizeLow);
        SetUsageCount(record, usageCount);
    }
    std::memcpy(GetEntryName(record), name, std::strlen(name) + 1);
    if (!isDirectory) WriteFileTail(record, &find, cReferences, cbReferences);

    SetBlockUsed(block, cbUsed + cbRecord);
    SetBlockEntryCount(block, static_cast<WORD>(GetBlockEntryCount(block) + 1));
    gDirtyFlag = 1;
    return record;
}

DirectoryBlock *EnsureDirectoryPath(LPCSTR fullPath) {
    if (gCurrentDrive == nullptr || fullPath == nullptr) return nullptr;
    DirectoryBlock *block = GetDriveRoot(gCurrentDrive);
    if (block == nullptr) block = CreateDirectoryBlock(nullptr);

    CHAR component[PATH_BUFFER_SIZE];
    LPCSTR pos = NextPathComponent(component, fullPath);  // the "X:\" root
    for (;;) {
        pos = NextPathComponent(component, pos);
        if (component[0] == '\0') return block;
        if (block == nullptr) return nullptr;
        EntryRecord *record = FindEntryByName(block, component, /*directoriesOnly=*/TRUE);
        if (record == nullptr) {
            // NextPathComponent cuts at 299 characters; AddEntry refuses what is still too long.
            record = AddEntry(block, component, fullPath, /*isDirectory=*/TRUE, 0);
            if (record == nullptr) return nullptr;
        }
        block = GetChildBlock(record);
    }
}
