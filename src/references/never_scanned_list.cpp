#include "references/never_scanned_list.h"

#include "references/settings_file.h"
#include "references/settings_lists.h"
#include "store/ptr32.h"
#include "support/limits.h"
#include "support/path_utils.h"

namespace {

// The section list (header line first) and the addresses of its entries in file order. The
// lookup is a binary search and nothing is sorted here: the file must list the extensions in
// ascending order.
LPSTR gNeverScannedList = nullptr;
DWORD *gNeverScannedEntries = nullptr;
LONG gNeverScannedCount = 0;

}  // namespace

void LoadNeverScannedList() {
    if (gNeverScannedList != nullptr) return;
    LPSTR list = nullptr;
    if (!ReadSettingsSection("NonNEPEFiles", &list)) return;

    DWORD cbList = 0;
    DWORD cStrings = 0;
    MeasureStringList(list, 0, &cbList, &cStrings);
    CharLowerBuffA(list, cbList);
    const LONG count = (LONG)cStrings - 1;

    // A header line alone is a loaded list of no entries: files without an extension still count.
    DWORD *entries = nullptr;
    if (count > 0) {
        DWORD cbEntries = (DWORD)count * (DWORD)sizeof(DWORD);
        entries = (DWORD *)AllocLockedBuffer(&cbEntries, /*cbStep=*/0);
        if (entries == nullptr) {
            FreeLockedBuffer(list);
            return;
        }
        LPCSTR pos = NextListString(list);
        for (LONG i = 0; i < count; ++i, pos = NextListString(pos)) StorePtr32(&entries[i], pos);
    }
    gNeverScannedList = list;
    gNeverScannedEntries = entries;
    gNeverScannedCount = count > 0 ? count : 0;
}

void FreeNeverScannedList() {
    FreeLockedBuffer(gNeverScannedEntries);
    FreeLockedBuffer(gNeverScannedList);
    gNeverScannedEntries = nullptr;
    gNeverScannedList = nullptr;
    gNeverScannedCount = 0;
}

BOOL IsNeverScannedFile(LPCSTR path) {
    if (gNeverScannedList == nullptr) return 0;
    CHAR extension[PATH_BUFFER_SIZE];
    GetFileExtension(extension, path);
    if (extension[0] == '\0') return 1;
    CharLowerA(extension);
    // Executables and libraries are always read, whatever the list says.
    if (CompareText(extension, "exe") == 0 || CompareText(extension, "dll") == 0) return 0;
    return SearchSortedStrings(gNeverScannedEntries, gNeverScannedCount, extension);
}
