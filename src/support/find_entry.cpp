#include "support/find_entry.h"

#include "support/limits.h"
#include "support/path_utils.h"

#include <cstddef>
#include <cstring>

// FIND_DATA begins with the platform's record, so one copy fills its first ten fields.
static_assert(offsetof(FIND_DATA, cFileName) == offsetof(WIN32_FIND_DATAA, cFileName),
              "FIND_DATA starts with WIN32_FIND_DATAA");
static_assert(offsetof(FIND_DATA, cAlternateFileName) == offsetof(WIN32_FIND_DATAA, cAlternateFileName),
              "FIND_DATA starts with WIN32_FIND_DATAA");
static_assert(offsetof(FIND_DATA, dwReserved2) >= offsetof(WIN32_FIND_DATAA, cAlternateFileName) + 14,
              "the extension follows the platform's record");

namespace {

const size_t kPlatformRecordBytes = offsetof(WIN32_FIND_DATAA, cAlternateFileName) + 14;

BOOL IsAccepted(const WIN32_FIND_DATAA *pEntry, DWORD dwMask) {
    return (pEntry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (dwMask & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Steps the search on until it holds an entry the mask accepts; 0 at the end of the listing.
BOOL AdvanceToAccepted(HANDLE hFind, DWORD dwMask, WIN32_FIND_DATAA *pEntry) {
    do {
        if (!FindNextFileA(hFind, pEntry)) return 0;
    } while (!IsAccepted(pEntry, dwMask));
    return 1;
}

// DOS words of a UTC file time, in local time. A time the DOS format cannot hold leaves 0.
void ToLocalDosWords(const FILETIME *pUtc, WORD *pDate, WORD *pTime) {
    FILETIME local = {0, 0};
    *pDate = 0;
    *pTime = 0;
    FileTimeToLocalFileTime(pUtc, &local);
    FileTimeToDosDateTime(&local, pDate, pTime);
}

void FillRecord(FIND_DATA *pFind, const WIN32_FIND_DATAA *pEntry) {
    memcpy(pFind, pEntry, kPlatformRecordBytes);
    ToLocalDosWords(&pFind->ftLastWriteTime, &pFind->wLastWriteDate, &pFind->wLastWriteTime);
    ToLocalDosWords(&pFind->ftLastAccessTime, &pFind->wLastAccessDate, &pFind->wLastAccessTime);
    // A name with a separate short form is a long name and keeps its spelling.
    if ((pFind->dwSearchAttributes & SEARCH_KEEP_CASE) == 0 && pFind->cAlternateFileName[0] == '\0')
        ProperCasePath(pFind->cFileName);
}

// SetCurrentDirectoryA on "X:", which makes drive X current at its own current directory.
BOOL MakeDriveCurrent(CHAR chDrive) {
    CHAR drive[3] = {chDrive, ':', '\0'};
    return SetCurrentDirectoryA(drive);
}

}  // namespace

HANDLE FindFirstEntry(LPCSTR path, DWORD dwSearchAttributes, FIND_DATA *pFind) {
    WIN32_FIND_DATAA entry;
    HANDLE hFind = FindFirstFileA(path, &entry);
    if (hFind == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    if (!IsAccepted(&entry, dwSearchAttributes) && !AdvanceToAccepted(hFind, dwSearchAttributes, &entry)) {
        FindClose(hFind);
        return INVALID_HANDLE_VALUE;
    }
    pFind->dwSearchAttributes = dwSearchAttributes;
    FillRecord(pFind, &entry);
    return hFind;
}

BOOL FindNextEntry(HANDLE hFind, FIND_DATA *pFind) {
    WIN32_FIND_DATAA entry;
    if (!AdvanceToAccepted(hFind, pFind->dwSearchAttributes, &entry)) return 0;
    FillRecord(pFind, &entry);
    return 1;
}

BOOL FindCloseEntry(HANDLE hFind) { return FindClose(hFind); }

BOOL EnterDirectory(LPCSTR path, LPSTR saved) {
    if (path == nullptr || path[0] == '\0') return 0;
    CHAR current[PATH_BUFFER_SIZE] = "";
    DWORD cch = GetCurrentDirectoryA(sizeof(current), current);
    if (cch == 0 || cch >= sizeof(current)) current[0] = '\0';
    if (saved != nullptr) {
        // The current directory of the current drive, as the drive itself reports it.
        saved[0] = '\0';
        if (current[0] != '\0' && MakeDriveCurrent(current[0])) {
            cch = GetCurrentDirectoryA(PATH_BUFFER_SIZE, saved);
            if (cch == 0 || cch >= PATH_BUFFER_SIZE) saved[0] = '\0';
            SetCurrentDirectoryA(current);
        }
    }
    if (!MakeDriveCurrent(path[0])) return 0;
    if (!SetCurrentDirectoryA(path)) {
        if (current[0] != '\0') MakeDriveCurrent(current[0]);
        return 0;
    }
    return 1;
}
