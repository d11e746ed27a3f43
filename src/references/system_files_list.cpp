#include "references/settings_file.h"
#include "references/settings_lists.h"
#include "references/string_list_sort.h"
#include "store/ptr32.h"
#include "support/path_utils.h"

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

BOOL IndexLookupList(LookupList *lookup, LPSTR list, LPCSTR first, LONG count) {
    DWORD *entries = nullptr;
    if (count > 0) {
        DWORD cbEntries = static_cast<DWORD>(count) * static_cast<DWORD>(sizeof(DWORD));
        entries = static_cast<DWORD *>(AllocLockedBuffer(&cbEntries, /*cbStep=*/0));
        if (entries == nullptr) {
            FreeLockedBuffer(list);
            return 0;
        }
        LPCSTR pos = first;
        for (LONG i = 0; i < count; ++i, pos = NextListString(pos)) StorePtr32(&entries[i], pos);
    }
    *lookup = {list, entries, count > 0 ? count : 0};
    return 1;
}

void FreeLookupList(LookupList *lookup) {
    FreeLockedBuffer(lookup->pEntries);
    FreeLockedBuffer(lookup->pList);
    *lookup = {nullptr, nullptr, 0};
}

BOOL LoadSystemFilesList() {
    if (gSystemFiles.pList != nullptr) return 1;
    LPSTR list = nullptr;
    if (!ReadSettingsSection("SystemFiles", &list)) return 0;

    DWORD cbList = 0;
    DWORD cStrings = 0;
    MeasureStringList(list, 0, &cbList, &cStrings);
    CharLowerBuffA(list, cbList);
    SortStringList(list, /*cbGap=*/0);
    return IndexLookupList(&gSystemFiles, list, list, static_cast<LONG>(cStrings));
}

void FreeSystemFilesList() { FreeLookupList(&gSystemFiles); }

BOOL IsSystemFilesListLoaded() { return gSystemFiles.pList != nullptr && gSystemFiles.pEntries != nullptr; }

LONG GetSystemFilesCount() { return gSystemFiles.cEntries; }

BOOL IsInSystemFilesList(LPCSTR key) {
    if (!IsSystemFilesListLoaded()) return 0;
    return SearchSortedStrings(gSystemFiles.pEntries, gSystemFiles.cEntries, key);
}
