// SearchAllDirForMyFiles and Delete_Allocated_Memory: for a caller's table of file names, the list
// of every mapped directory that holds a record (file or directory) of each name, and its release.
//
// The nodes and their path texts are global memory: the table's fields are 32 bits wide on every
// build, and global memory lies below 4 GiB. Only Delete_Allocated_Memory frees them.
#include "pwdvmp32.h"

#include "store/block_layout.h"
#include "store/drive_table.h"
#include "store/ptr32.h"
#include "support/path_utils.h"

#include <cstring>

#define MY_FILES_PATH_SIZE 512  // directory paths with their trailing backslash: at most 511 characters

namespace {

struct NamedFilesSearch {
    MyFileQuery *queries;
    LONG cQueries;
    CHAR szPath[MY_FILES_PATH_SIZE];  // "X:" and the directories down to the one being searched
};

// Puts a node for the directory `path` at the head of the query's list. 0, nothing linked and
// nothing left allocated, when memory runs out.
BOOL LinkFound(MyFileQuery *query, LPCSTR path) {
    DWORD cbNode = sizeof(MyFileFound);
    DWORD cbText = static_cast<DWORD>(std::strlen(path)) + 1;
    auto *node = static_cast<MyFileFound *>(AllocLockedBuffer(&cbNode, /*cbStep=*/0));
    auto *text = node != nullptr ? static_cast<LPSTR>(AllocLockedBuffer(&cbText, /*cbStep=*/0)) : nullptr;
    if (text == nullptr) {
        FreeLockedBuffer(node);
        return 0;
    }
    std::memcpy(text, path, cbText);
    StorePtr32(&node->pszDirectory, text);
    StoreField<PTR32>(&node->pNextFound, LoadField<PTR32>(&query->pFound));
    StorePtr32(&query->pFound, node);
    return 1;
}

// Searches `block`, whose directory's path (without its backslash) fills the first cchPath
// characters of the search's path: each subdirectory's tree first, then the record's own name
// against every query, so a directory's own match comes after the matches inside it. A
// subdirectory whose path and backslash would pass 511 characters is passed over: the directory
// paths handed out are never cut. 0 when memory ran out.
BOOL CollectNamedFiles(NamedFilesSearch *search, size_t cchPath, const DirectoryBlock *block) {
    if (block == nullptr) return 1;
    LPSTR path = search->szPath;
    path[cchPath++] = '\\';
    path[cchPath] = '\0';
    const EntryRecord *failedAt = ForEachEntry(block, [&](const EntryRecord *entry) -> bool {
        LPCSTR name = GetEntryName(entry);
        if (!IsFile(entry)) {
            const size_t cchName = std::strlen(name);
            if (cchPath + cchName + 1 < MY_FILES_PATH_SIZE) {
                std::memcpy(path + cchPath, name, cchName);
                if (!CollectNamedFiles(search, cchPath + cchName, GetChildBlock(entry))) return true;
            }
            path[cchPath] = '\0';
        }
        for (LONG i = 0; i < search->cQueries; ++i) {
            MyFileQuery *query = &search->queries[i];
            if (CompareTextNoCase(LoadPtr32<CHAR>(&query->pszName), name) == 0 && !LinkFound(query, path)) return true;
        }
        return false;
    });
    return failedAt == nullptr;
}

}  // namespace

// Every drive in table order. Each list gains its nodes at its head, so it ends up in reverse order
// of finding. 0 when memory ran out: the search ends there, and the nodes already linked stay for
// Delete_Allocated_Memory. A count of 0 or less searches nothing.
extern "C" BOOL WINAPI SearchAllDirForMyFiles(MyFileQuery *queries, LONG count) {
    if (queries == nullptr || count <= 0) return 1;
    NamedFilesSearch search;
    search.queries = queries;
    search.cQueries = count;
    for (DWORD i = 0; i < DriveCount(); ++i) {
        const DriveRecord *drive = &gDriveTable.records[i];
        search.szPath[0] = static_cast<CHAR>(drive->chLetter);
        search.szPath[1] = ':';
        if (!CollectNamedFiles(&search, 2, GetDriveRoot(drive))) return 0;
    }
    return 1;
}

// Frees every node of each element's list with its text. The elements' pFound are left as they are:
// a caller that searches again sets them to 0 first.
extern "C" void WINAPI Delete_Allocated_Memory(MyFileQuery *queries, LONG count) {
    for (LONG i = 0; queries != nullptr && i < count; ++i) {
        for (MyFileFound *node = LoadPtr32<MyFileFound>(&queries[i].pFound); node != nullptr;) {
            MyFileFound *next = LoadPtr32<MyFileFound>(&node->pNextFound);
            FreeLockedBuffer(LoadPtr32<CHAR>(&node->pszDirectory));
            FreeLockedBuffer(node);
            node = next;
        }
    }
}
