#include "store/add_entry.h"

#include "store/directory_blocks.h"
#include "store/entry_header.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/find_entry.h"
#include "support/path_utils.h"

#include <cstring>

EntryRecord *AddEntry(DirectoryBlock *block, LPCSTR name, LPCSTR fullPath, BOOL isDirectory, WORD usageCount,
                      DirectoryBlock **ppBlock) {
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

    NewRecord record;
    if (!BuildEntryHeader(name, fullPath, isDirectory, &record)) return nullptr;
    block = GrowBlock(block, GetBlockUsed(block) + record.Length());
    if (block == nullptr) return nullptr;

    if (isDirectory) {
        // The block is at its final address now, so the child's pParent stays right.
        DirectoryBlock *child = CreateDirectoryBlock(block);
        if (child == nullptr) return nullptr;  // grown but unused: dwUsed still ends before it
        SetChildBlock(record.Header(), child);
        SetChildId(record.Header(), GetBlockId(child));
    } else {
        SetEntryFileSize(record.Header(), find.nFileSizeLow);
        SetUsageCount(record.Header(), usageCount);
    }
    EntryRecord *added = AppendNewRecord(block, &record, name, &find);
    gDirtyFlag = 1;
    if (ppBlock != nullptr) *ppBlock = block;
    return added;
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
