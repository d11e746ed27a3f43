#include "references/never_scanned_list.h"

#include "references/settings_file.h"
#include "references/settings_lists.h"
#include "store/ptr32.h"
#include "support/limits.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

void ForgetExtensionAnswers() { std::memset(&gExtensionMemo, 0, sizeof gExtensionMemo); }

// The slot an extension's answer is kept in (FNV-1a of its bytes).
ExtensionMemoSlot *MemoSlotOf(LPCSTR extension, size_t cch) {
    DWORD hash = 2166136261u;
    for (size_t i = 0; i < cch; ++i) hash = (hash ^ static_cast<BYTE>(extension[i])) * 16777619u;
    return &gExtensionMemo.slots[hash % EXTENSION_MEMO_SLOTS];
}

BOOL SearchNeverScannedList(LPCSTR extension) {
    // Executables and libraries are always read, whatever the list says.
    if (CompareText(extension, "exe") == 0 || CompareText(extension, "dll") == 0) return 0;
    return SearchSortedStrings(gNeverScanned.pEntries, gNeverScanned.cEntries, extension);
}

}  // namespace

void LoadNeverScannedList() {
    if (gNeverScanned.pList != nullptr) return;
    ForgetExtensionAnswers();
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

void FreeNeverScannedList() {
    FreeLookupList(&gNeverScanned);
    ForgetExtensionAnswers();
}

BOOL IsNeverScannedFile(LPCSTR path) {
    if (gNeverScanned.pList == nullptr) return 0;
    CHAR extension[PATH_BUFFER_SIZE];
    GetFileExtension(extension, path);
    if (extension[0] == '\0') return 1;
    CharLowerA(extension);
    const size_t cch = std::strlen(extension);
    if (cch > EXTENSION_MEMO_CHARS) return SearchNeverScannedList(extension);
    if (gExtensionMemo.pEntries != gNeverScanned.pEntries || gExtensionMemo.cEntries != gNeverScanned.cEntries) {
        ForgetExtensionAnswers();
        gExtensionMemo.pEntries = gNeverScanned.pEntries;
        gExtensionMemo.cEntries = gNeverScanned.cEntries;
    }
    ExtensionMemoSlot *slot = MemoSlotOf(extension, cch);
    if (std::memcmp(slot->szExtension, extension, cch + 1) != 0) {
        std::memcpy(slot->szExtension, extension, cch + 1);
        slot->fNeverScanned = SearchNeverScannedList(extension);
    }
    return slot->fNeverScanned;
}
