#include "support/file_system.h"

#include "support/find_entry.h"
#include "support/limits.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// A drive root exists when its drive can be made current; the caller's current directory is put
// back whatever happens.
DWORD RootExists(LPCSTR root) {
    CHAR kept[PATH_BUFFER_SIZE] = "";
    CHAR current[PATH_BUFFER_SIZE];
    DWORD cch = GetCurrentDirectoryA(sizeof(kept), kept);
    if (cch >= sizeof(kept)) kept[0] = '\0';
    CHAR drive[3] = {root[0], ':', '\0'};
    DWORD answer = 0;
    if (SetCurrentDirectoryA(drive)) answer = GetCurrentDirectoryA(sizeof(current), current);
    if (kept[0] != '\0') SetCurrentDirectoryA(kept);
    return answer;
}

// Searches with `dwMask` and closes at once; 1 when an entry was found whose name does not
// begin with a dot (which also passes over "." and ".."), its record in *pFind.
BOOL FindVisibleEntry(LPCSTR path, DWORD dwMask, FIND_DATA *pFind) {
    HANDLE hFind = FindFirstEntry(path, dwMask, pFind);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    FindCloseEntry(hFind);
    return pFind->cFileName[0] != '.';
}

}  // namespace

DWORD DirectoryExists(LPSTR path) {
    if (path == nullptr || path[0] == '\0') return 0;
    if (IsRootPath(path)) return RootExists(path);
    LPSTR last = LastCharOf(path);
    BOOL removedBackslash = *last == '\\';
    if (removedBackslash) *last = '\0';
    FIND_DATA find;
    DWORD answer =
        FindVisibleEntry(path, SEARCH_FILES_AND_DIRS, &find) && (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Put back in place rather than appended, so that a text of any length ends as it began.
    if (removedBackslash) *last = '\\';
    return answer;
}

BOOL FileExists(LPCSTR path) {
    if (path == nullptr || path[0] == '\0') return 0;
    FIND_DATA find;
    return FindVisibleEntry(path, SEARCH_FILES_ONLY, &find) && (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL GetTrueCasePath(LPSTR dest, LPCSTR path) {
    if (path == nullptr || path[0] == '\0') {
        dest[0] = '\0';
        return 1;
    }
    CHAR component[PATH_BUFFER_SIZE];
    GetPathRoot(dest, path);
    LPCSTR pos = NextPathComponent(component, path);
    if (component[0] == '\0') return 0;
    for (;;) {
        pos = NextPathComponent(component, pos);
        if (component[0] == '\0') return 0;
        AppendPathComponent(dest, component);
        FIND_DATA find;
        HANDLE hFind = FindFirstEntry(dest, SEARCH_FILES_AND_DIRS, &find);
        if (hFind == INVALID_HANDLE_VALUE) {
            AppendPathComponent(dest, pos);
            return 1;
        }
        FindCloseEntry(hFind);
        RemoveLastPathComponent(dest);
        AppendPathComponent(dest, find.cFileName);
    }
}

BOOL DeleteSingleFile(LPCSTR path) {
    if (HasWildcards(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return DeleteFileA(path);
}

void SetAttributes(LPCSTR path, DWORD dwAttributes) { SetFileAttributesA(path, dwAttributes); }

BOOL HasWildcards(LPCSTR text) { return text != nullptr && strpbrk(text, "*?") != nullptr; }
