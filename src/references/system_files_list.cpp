#include "references/settings_file.h"
#include "references/settings_lists.h"
#include "references/string_list_sort.h"
#include "store/ptr32.h"
#include "support/path_utils.h"

namespace {

// The "SystemFiles" section, lower-cased and sorted, and the addresses of all its strings in
// that order. The header line is sorted in with the entries; being bracketed, it matches no
// module name.
LPSTR gSystemFilesList = nullptr;
DWORD *gSystemFilesEntries = nullptr;
LONG gSystemFilesCount = 0;

}  // namespace

BOOL SearchSortedStrings(const DWORD *entries, LONG count, LPCSTR key) {
    LONG low = 0;
    LONG high = count - 1;
    while (low <= high) {
        const LONG middle = low + (high - low) / 2;
        const int order = CompareText(key, LoadPtr32<const CHAR>(&entries[middle]));
        if (order == 0) return 1;
        if (order < 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return 0;
}

BOOL LoadSystemFilesList() {
    if (gSystemFilesList != nullptr) return 1;
    LPSTR list = nullptr;
    if (!ReadSettingsSection("SystemFiles", &list)) return 0;

    DWORD cbList = 0;
    DWORD cStrings = 0;
    MeasureStringList(list, 0, &cbList, &cStrings);
    CharLowerBuffA(list, cbList);
    SortStringList(list, /*cbGap=*/0);
    gSystemFilesList = list;

    DWORD cbEntries = cStrings * (DWORD)sizeof(DWORD);
    gSystemFilesEntries = (DWORD *)AllocLockedBuffer(&cbEntries, /*cbStep=*/0);
    if (gSystemFilesEntries == nullptr) {
        FreeSystemFilesList();
        return 0;
    }
    LPCSTR pos = list;
    for (DWORD i = 0; i < cStrings; ++i, pos = NextListString(pos)) StorePtr32(&gSystemFilesEntries[i], pos);
    gSystemFilesCount = (LONG)cStrings;
    return 1;
}

void FreeSystemFilesList() {
    FreeLockedBuffer(gSystemFilesEntries);
    FreeLockedBuffer(gSystemFilesList);
    gSystemFilesEntries = nullptr;
    gSystemFilesList = nullptr;
    gSystemFilesCount = 0;
}

BOOL IsSystemFilesListLoaded() { return gSystemFilesList != nullptr && gSystemFilesEntries != nullptr; }

LONG GetSystemFilesCount() { return gSystemFilesCount; }

BOOL IsInSystemFilesList(LPCSTR key) {
    if (!IsSystemFilesListLoaded()) return 0;
    return SearchSortedStrings(gSystemFilesEntries, gSystemFilesCount, key);
}
