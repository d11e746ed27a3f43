// The two lists kept from the settings data file: the never-scanned extensions (never_scanned_list.h,
// loaded with the library) and the system modules whose references are not recorded, loaded the
// first time a reference is checked and kept until the library is unloaded.
#pragma once

#include "store/module_state.h"
#include "win32.h"

// Loads section "SystemFiles", lower-cased and sorted. 1 when the list is ready (at once when it
// already is), 0 when the file, the section or memory is missing; a later call tries again.
BOOL LoadSystemFilesList();

// Frees the list and its entry array and marks both absent; safe when nothing is loaded.
void FreeSystemFilesList();

BOOL IsSystemFilesListLoaded();

// Number of entries of the loaded list (its header line counts as one of them), 0 when absent.
LONG GetSystemFilesCount();

// 1 when `key` (already lower case: the entries are) is an entry of the loaded list, by binary
// search under the case-sensitive CompareText; 0 when it is not or when no list is loaded.
BOOL IsInSystemFilesList(LPCSTR key);

// LookupList, the shape of both lists, is in the state table.

// Takes ownership of `list` and indexes its `count` strings from `first` on (count 0 or less: a
// loaded list without entries). 1 on success; 0 when the index cannot be allocated, with `list`
// freed and `lookup` left as it was.
BOOL IndexLookupList(LookupList *lookup, LPSTR list, LPCSTR first, LONG count);

// Frees the list and its index and marks both absent; safe when nothing is loaded.
void FreeLookupList(LookupList *lookup);

// Binary search of `count` 32-bit string addresses in ascending CompareText order. Used by both
// lists; an unsorted array simply misses entries.
BOOL SearchSortedStrings(const DWORD *entries, LONG count, LPCSTR key);
