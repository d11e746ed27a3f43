// DriveMap_GetEntryReferences: which mapped executables use a file. The positions of the records
// whose reference list names the file's base name are handed to the caller in a global-memory block
// (a 16-bit count, then (block, record) pairs).
//
// Where the search looks depends on where the file lies. A file in the Windows or System directory
// or in a directory of PATH is shared: every drive is searched, depth first in drive-table order,
// and an executable counts only if its own directory holds no record of the file's name (Windows
// loads that one instead), unless that is the queried file's own directory, and only if the queried
// file is the copy that a search of those places by name finds first (otherwise that other copy is
// the one loaded, and this one is used by nobody). A file anywhere else is private to its directory,
// and only that directory is searched.
//
// The block holds at most 8,191 pairs (fewer when memory was short and it was obtained smaller).
// A query with more matches keeps the first ones, in the same order, and stops there: a count
// equal to the block's capacity, (GlobalSize - 2) / 8, means there may be more.
#include "pwdvmp32.h"

#include "maintenance/search_for_file.h"
#include "store/block_layout.h"
#include "store/drive_table.h"
#include "store/entry_lookup.h"
#include "store/entry_records.h"
#include "store/export_frame.h"
#include "store/map_release.h"
#include "store/reference_buffer.h"
#include "support/path_utils.h"

#include <cstring>

#define REFERENCE_RESULT_SIZE 65534u  // the count and 8,191 pairs
#define REFERENCE_RESULT_STEP 2048u   // a failed request is lowered by this much
#define REFERENCE_PAIR_SIZE 8u        // an EntryPosition
#define REFERENCE_COUNT_SIZE 2u

namespace {

// Releasing the map drops the query's state (the map's blocks it named are gone).
void ForgetReferenceQuery() { std::memset(&gReferenceQuery, 0, sizeof gReferenceQuery); }
MAP_RELEASE_FUNCTION(ForgetReferenceQuery);

BOOL IsResultFull() { return LoadField<WORD>(&gReferenceQuery.pResult->wCount) >= gReferenceQuery.cCapacity; }

// Writes the pair (block, entry) after the others; the caller made sure there is room.
void AddPair(const DirectoryBlock *block, const EntryRecord *entry) {
    ReferenceResultBlock *result = gReferenceQuery.pResult;
    const WORD count = LoadField<WORD>(&result->wCount);
    BYTE *pair = reinterpret_cast<BYTE *>(result) + REFERENCE_COUNT_SIZE + REFERENCE_PAIR_SIZE * count;
    StorePtr32(pair, block);
    StorePtr32(pair + 4, entry);
    StoreField<WORD>(&result->wCount, static_cast<WORD>(count + 1));
}

// Whether an executable in `block` that names the target counts.
BOOL AcceptReferencingDirectory(const DirectoryBlock *block) {
    if (!gReferenceQuery.fMapWide) return 1;
    if (block != gReferenceQuery.pOwnBlock && FindEntryByName(block, gReferenceQuery.szFileName, FALSE) != nullptr)
        return 0;
    return gReferenceQuery.fFirstCopy;
}

// Adds a pair for each of the record's reference names that equals the target's base name: a
// record that names it twice is added twice. The names are read within the record's own length.
void AddMatchingReferences(const DirectoryBlock *block, const EntryRecord *entry) {
    const BYTE *part = GetReferencePart(entry);
    if (part == nullptr) return;
    const BYTE *end = reinterpret_cast<const BYTE *>(entry) + GetEntryLength(entry);
    if (part >= end) return;
    const char *name = reinterpret_cast<const char *>(part + 1);
    for (BYTE cNames = *part; cNames > 0 && !IsResultFull(); --cNames) {
        const size_t cbLeft = static_cast<size_t>(end - reinterpret_cast<const BYTE *>(name));
        const size_t cchName = strnlen(name, cbLeft);
        if (cchName == cbLeft) return;  // no NUL before the record ends
        if (lstrcmpiA(name, gReferenceQuery.szBaseName) == 0 && AcceptReferencingDirectory(block))
            AddPair(block, entry);
        name += cchName + 1;
    }
}

// The records of `block` in their stored order; with the map-wide scope each subdirectory's whole
// tree is searched where its record stands. Ends as soon as the result block is full.
void ScanBlockForReferences(const DirectoryBlock *block) {
    if (block == nullptr) return;
    ForEachEntry(block, [&](const EntryRecord *entry) -> bool {
        if (IsFile(entry))
            AddMatchingReferences(block, entry);
        else if (gReferenceQuery.fMapWide && !IsFile(entry))
            ScanBlockForReferences(GetChildBlock(entry));
        return IsResultFull();
    });
}

// Fills `result` (cbResult bytes, zero) with the references to the file at `path`, whose record is
// at `position`.
void CollectReferencingEntries(LPCSTR path, const EntryPosition *position, ReferenceResultBlock *result,
                               DWORD cbResult) {
    ReferenceQueryState &query = gReferenceQuery;
    GetPathFileName(query.szFileName, path);
    GetFileBaseName(query.szBaseName, path);
    query.pOwnBlock = LoadPtr32<DirectoryBlock>(&position->pBlock);
    query.pResult = result;
    query.cCapacity = (cbResult - REFERENCE_COUNT_SIZE) / REFERENCE_PAIR_SIZE;

    CHAR directory[PATH_BUFFER_SIZE];
    GetParentDirectory(directory, path);
    query.fMapWide = IsWindowsSystemOrPathDirectory(directory);
    if (!query.fMapWide) {
        query.fFirstCopy = 0;
        ScanBlockForReferences(query.pOwnBlock);
    } else {
        CHAR firstCopy[PATH_BUFFER_SIZE];
        query.fFirstCopy = SearchMapForFile(firstCopy, query.szFileName, /*directory=*/nullptr, FIND_SHARED_PLACES) &&
                           CompareTextNoCase(firstCopy, path) == 0;
        // A copy that is not the one found first is used by nobody: every drive would be searched
        // only to accept nothing.
        for (DWORD i = 0; query.fFirstCopy && i < DriveCount() && !IsResultFull(); ++i)
            ScanBlockForReferences(GetDriveRoot(&gDriveTable.records[i]));
    }
    query.pResult = nullptr;  // the block leaves with the caller
}

}  // namespace

// Result 1 when the path names a record (with *result the block, or none when nothing references
// the file or no block could be had), 0 otherwise. Codes: 2 for a missing or relative path, a
// drive's root or a path a covered drive does not hold, 8 for a drive the map does not cover, 3
// when the reference buffer cannot be had. The operation mode becomes MODE_QUERY only for a full
// path. *position receives the lookup's position; *result is written only when the result is 1.
extern "C" BOOL WINAPI DriveMap_GetEntryReferences(DWORD callerValue, LPCSTR path, EntryPosition *position,
                                                   ReferenceResultBlock **result, DWORD callerValue2) {
    ExportFrame frame(FRAME_KEEPS_MODE, FRAME_CLEARS_CRITICAL);
    if (!IsFullPath(path)) return frame.Fail(DRIVEMAP_NOT_FOUND);
    frame.SetMode(MODE_QUERY);
    if (const DWORD code = EnsureReferenceBuffer(); code != DRIVEMAP_OK) return frame.Fail(code);

    CHAR workingPath[PATH_BUFFER_SIZE];
    EntryPosition found;
    const BOOL resolved = LookUpEntry(path, &found, workingPath, &frame.dwErrorCode);
    if (position != nullptr) std::memcpy(position, &found, sizeof found);
    if (!resolved) return FALSE;
    if (LoadPtr32<EntryRecord>(&found.pEntry) == nullptr) return frame.Fail(DRIVEMAP_NOT_FOUND);  // a root

    DWORD cbResult = REFERENCE_RESULT_SIZE;
    auto *block = static_cast<ReferenceResultBlock *>(AllocLockedBuffer(&cbResult, REFERENCE_RESULT_STEP));
    if (block != nullptr) {
        CollectReferencingEntries(workingPath, &found, block, cbResult);
        if (LoadField<WORD>(&block->wCount) == 0) {
            FreeLockedBuffer(block);
            block = nullptr;
        }
    }
    if (result != nullptr)
        *result = block;
    else
        FreeLockedBuffer(block);
    return TRUE;
}
