#include "references/never_scanned_list.h"

#include "references/settings_file.h"
#include "references/settings_lists.h"
#include "store/ptr32.h"
#include "support/limits.h"
#include "support/path_utils.h"

void LoadNeverScannedList() {
    if (gNeverScanned.pList != nullptr) return;
    LPSTR list = nullptr;
    if (!ReadSettingsSection("NonNEPEFiles", &list)) return;

    DWORD cbList = 0;
    DWORD cStrings = 0;
    MeasureStringList(list, 0, &cbList, &cStrings);
    CharLowerBuffA(list, cbList);
    // The header line is not an entry; a header alone is a loaded list of no entries (files
    // without an extension still count).
    IndexLookupList(&gNeverScanned, list, NextListString(list), static_cast<LONG>(cStrings) - 1);
}

void FreeNeverScannedList() { FreeLookupList(&gNeverScanned); }

BOOL IsNeverScannedFile(LPCSTR path) {
    if (gNeverScanned.pList == nullptr) return 0;
    CHAR extension[PATH_BUFFER_SIZE];
    GetFileExtension(extension, path);
    if (extension[0] == '\0') return 1;
    CharLowerA(extension);
    // Executables and libraries are always read, whatever the list says.
    if (CompareText(extension, "exe") == 0 || CompareText(extension, "dll") == 0) return 0;
    return SearchSortedStrings(gNeverScanned.pEntries, gNeverScanned.cEntries, extension);
}
