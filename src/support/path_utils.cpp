#include "support/path_utils.h"

#include <cstring>

namespace {

const size_t kMaxPathChars = PATH_BUFFER_SIZE - 1;

BOOL IsSeparator(CHAR ch) { return ch == '\\' || ch == ':'; }

// Copies `cch` characters of `src` into a path buffer, cut at 299, and closes it.
LPSTR CopyBounded(LPSTR dest, LPCSTR src, size_t cch) {
    if (cch > kMaxPathChars) cch = kMaxPathChars;
    memmove(dest, src, cch);
    dest[cch] = '\0';
    return dest;
}

// Index of the dot that starts the extension, or -1. The first character is never examined, so
// ".profile" has no extension.
ptrdiff_t FindExtensionDot(LPCSTR path) {
    for (ptrdiff_t i = static_cast<ptrdiff_t>(strlen(path)) - 1; i > 0; --i) {
        if (path[i] == '.') return i;
        if (IsSeparator(path[i])) return -1;
    }
    return -1;
}

// Length of the path without its last component: the cut RemoveLastPathComponent makes.
size_t ParentLength(LPCSTR path) {
    ptrdiff_t i = static_cast<ptrdiff_t>(strlen(path)) - 1;
    while (i >= 0 && !IsSeparator(path[i])) --i;
    if (i < 0) return 0;
    if (path[i] == ':' || i == 0 || path[i - 1] == ':')
        return static_cast<size_t>(i) + 1; /* "X:", a lone leading backslash, a drive root: kept */
    return static_cast<size_t>(i);
}

// 1 when `map` leaves the text unchanged, compared byte by byte.
BOOL IsUnchangedBy(LPCSTR text, LPSTR(WINAPI *map)(LPSTR)) {
    CHAR copy[CASE_TEST_BUFFER_SIZE];
    const size_t cchChunk = sizeof(copy) - 1;
    size_t cchLeft = strlen(text);
    do {
        size_t cch = cchLeft < cchChunk ? cchLeft : cchChunk;
        memcpy(copy, text, cch);
        copy[cch] = '\0';
        map(copy);
        if (memcmp(copy, text, cch) != 0) return 0;
        text += cch;
        cchLeft -= cch;
    } while (cchLeft > 0);
    return 1;
}

// Walks the path's components and capitalises those `select` accepts, in place.
LPSTR ProperCaseComponents(LPSTR path, BOOL (*select)(LPCSTR component)) {
    CHAR component[PATH_BUFFER_SIZE];
    LPCSTR pos = path;
    for (;;) {
        LPSTR start = path + (pos - path);
        pos = NextPathComponent(component, pos);
        size_t cch = strlen(component);
        if (cch == 0) break;
        if (select(component)) {
            component[0] = CharUpperOne(component[0]);
            CharLowerA(component + 1);
        }
        // Same length as the text it came from (or its first 299 characters): no NUL.
        memcpy(start, component, cch);
    }
    return path;
}

BOOL IsShortSingleCaseName(LPCSTR component) {
    return IsShortFileName(component) && (IsAllUpperCase(component) || IsAllLowerCase(component));
}

BOOL AnyComponent(LPCSTR) { return 1; }

}  // namespace

LPSTR AppendPathComponent(LPSTR path, LPCSTR name) {
    if (name == nullptr || name[0] == '\0') return path;
    size_t cch = strlen(path);
    if (cch > 0 && path[cch - 1] != '\\' && cch < kMaxPathChars) path[cch++] = '\\';
    if (name[0] == '\\') ++name;
    size_t cchName = strlen(name);
    if (cch >= kMaxPathChars) {
        path[kMaxPathChars] = '\0';
        return path;
    }
    if (cchName > kMaxPathChars - cch) cchName = kMaxPathChars - cch;
    memcpy(path + cch, name, cchName);
    path[cch + cchName] = '\0';
    return path;
}

size_t JoinedPathLength(LPCSTR path, LPCSTR name) {
    if (name == nullptr || name[0] == '\0') return strlen(path);
    const size_t cch = strlen(path);
    const size_t cchSeparator = cch > 0 && path[cch - 1] != '\\' ? 1 : 0;
    return cch + cchSeparator + strlen(name[0] == '\\' ? name + 1 : name);
}

LPSTR GetPathRoot(LPSTR dest, LPCSTR path) {
    LPCSTR colon = strchr(path, ':');
    size_t cch = colon != nullptr ? static_cast<size_t>(colon - path) + 1 : strlen(path);
    if (cch > kMaxPathChars - 1) cch = kMaxPathChars - 1;
    memmove(dest, path, cch);
    dest[cch] = '\\';
    dest[cch + 1] = '\0';
    return dest;
}

LPSTR GetFileExtension(LPSTR dest, LPCSTR path) {
    ptrdiff_t dot = FindExtensionDot(path);
    if (dot < 0) return CopyBounded(dest, "", 0);
    return CopyBounded(dest, path + dot + 1, strlen(path + dot + 1));
}

LPSTR GetPathFileName(LPSTR dest, LPCSTR path) {
    ptrdiff_t end = static_cast<ptrdiff_t>(strlen(path));
    if (end > 0 && path[end - 1] == '\\') --end;
    ptrdiff_t start = end;
    while (start > 0 && !IsSeparator(path[start - 1])) --start;
    return CopyBounded(dest, path + start, static_cast<size_t>(end - start));
}

LPSTR GetFileBaseName(LPSTR dest, LPCSTR path) {
    ptrdiff_t end = static_cast<ptrdiff_t>(strlen(path));
    ptrdiff_t dot = -1;
    ptrdiff_t start = end;
    while (start > 0 && !IsSeparator(path[start - 1])) {
        --start;
        if (dot < 0 && start > 0 && path[start] == '.') dot = start;
    }
    return CopyBounded(dest, path + start, static_cast<size_t>((dot >= 0 ? dot : end) - start));
}

LPSTR GetParentDirectory(LPSTR dest, LPCSTR path) { return CopyBounded(dest, path, ParentLength(path)); }

LPSTR RemoveFileExtension(LPSTR path) {
    ptrdiff_t dot = FindExtensionDot(path);
    if (dot >= 0) path[dot] = '\0';
    return path;
}

LPSTR RemoveLastPathComponent(LPSTR path) {
    path[ParentLength(path)] = '\0';
    return path;
}

LPSTR RemoveTrailingBackslash(LPSTR text) {
    LPSTR last = LastCharOf(text);
    if (last != nullptr && *last == '\\') *last = '\0';
    return text;
}

LPSTR AppendChar(LPSTR text, CHAR ch) {
    size_t cch = strlen(text);
    if (cch < kMaxPathChars) {
        text[cch] = ch;
        text[cch + 1] = '\0';
    }
    return text;
}

LPSTR LastCharOf(LPCSTR text) {
    if (text == nullptr || text[0] == '\0') return nullptr;
    return const_cast<LPSTR>(text) + strlen(text) - 1;
}

LPCSTR NextPathComponent(LPSTR component, LPCSTR pos) {
    LPCSTR end = pos;
    while (*end != '\0' && *end != '\\') ++end;
    size_t cch = static_cast<size_t>(end - pos);
    // A drive root keeps its backslash: "X:\" is the first component of "X:\A".
    if (*end == '\\' && end > pos && end[-1] == ':') ++cch;
    CopyBounded(component, pos, cch);
    return *end == '\\' ? end + 1 : end;
}

LPCSTR NextSemicolonItem(LPSTR item, LPCSTR pos) {
    while (*pos == ';') ++pos;
    LPCSTR end = pos;
    while (*end != '\0' && *end != ';') ++end;
    CopyBounded(item, pos, static_cast<size_t>(end - pos));
    return *end == ';' ? end + 1 : end;
}

BOOL IsFullPath(LPCSTR path) {
    if (path == nullptr || path[0] == '\0') return 0;
    if (path[0] == '\\' && path[1] == '\\') return 1;
    return path[1] == ':' && path[2] == '\\';
}

BOOL IsRootPath(LPCSTR path) { return IsFullPath(path) && path[3] == '\0'; }

BOOL IsShortFileName(LPCSTR path) {
    CHAR part[PATH_BUFFER_SIZE];
    if (strlen(GetFileBaseName(part, path)) > 8) return 0;
    return strlen(GetFileExtension(part, path)) <= 3;
}

BOOL IsAllUpperCase(LPCSTR text) { return IsUnchangedBy(text, CharUpperA); }

BOOL IsAllLowerCase(LPCSTR text) { return IsUnchangedBy(text, CharLowerA); }

LPSTR ProperCaseShortNames(LPSTR path) { return ProperCaseComponents(path, IsShortSingleCaseName); }

LPSTR ProperCasePath(LPSTR path) { return ProperCaseComponents(path, AnyComponent); }

int CompareText(LPCSTR a, LPCSTR b) {
    if (a == nullptr || b == nullptr) return -2;
    return lstrcmpA(a, b);
}

int CompareTextNoCase(LPCSTR a, LPCSTR b) {
    if (a == nullptr || b == nullptr) return -2;
    return lstrcmpiA(a, b);
}

LPSTR NextListString(LPCSTR pos) { return const_cast<LPSTR>(pos) + strlen(pos) + 1; }

void MeasureStringList(LPCSTR list, DWORD cbGap, DWORD *pcbSize, DWORD *pcStrings) {
    DWORD cStrings = 0;
    DWORD cbSize = 1;
    if (list != nullptr) {
        LPCSTR pos = list;
        while (*pos != '\0') {
            ++cStrings;
            pos = NextListString(pos) + cbGap;
        }
        cbSize = static_cast<DWORD>(pos - list) + 1;
    }
    if (pcbSize != nullptr) *pcbSize = cbSize;
    if (pcStrings != nullptr) *pcStrings = cStrings;
}

namespace {

LPVOID AllocLocked(UINT flags, DWORD cb) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | flags, cb);
    if (h == nullptr) return nullptr;
    LPVOID p = GlobalLock(h);
    if (p == nullptr) GlobalFree(h);
    return p;
}

}  // namespace

LPVOID AllocLockedBuffer(DWORD *pcbSize, DWORD cbStep) {
    for (;;) {
        if (LPVOID p = AllocLocked(GMEM_ZEROINIT, *pcbSize)) return p;
        if (cbStep == 0 || *pcbSize <= cbStep) return nullptr;
        *pcbSize -= cbStep;
    }
}

LPVOID AllocLockedBytes(DWORD cb) { return AllocLocked(0, cb); }

void FreeLockedBuffer(LPVOID p) {
    if (p == nullptr) return;
    HGLOBAL h = GlobalHandle(p);
    GlobalUnlock(h);
    GlobalFree(h);
}

LPSTR ExpandPathVariable(void) {
    DWORD cbBuffer = PATH_VALUE_BUFFER_SIZE;
    LPSTR buffer = static_cast<LPSTR>(AllocLockedBuffer(&cbBuffer, PATH_VALUE_STEP));
    if (buffer == nullptr) return nullptr;
    DWORD cbNeeded = ExpandEnvironmentStringsA("%PATH%", buffer, cbBuffer);
    if (cbNeeded > cbBuffer) {
        // One second try with a buffer of the size asked for; a partial value is never read.
        FreeLockedBuffer(buffer);
        cbBuffer = cbNeeded;
        buffer = static_cast<LPSTR>(AllocLockedBuffer(&cbBuffer, /*cbStep=*/0));
        if (buffer == nullptr) return nullptr;
        cbNeeded = ExpandEnvironmentStringsA("%PATH%", buffer, cbBuffer);
    }
    if (cbNeeded == 0 || cbNeeded > cbBuffer) {
        FreeLockedBuffer(buffer);
        return nullptr;
    }
    return buffer;
}

BOOL IsDirectoryInPath(LPCSTR directory) {
    LPSTR value = ExpandPathVariable();
    if (value == nullptr) return 0;
    CHAR item[PATH_BUFFER_SIZE];
    BOOL found = 0;
    LPCSTR pos = value;
    while (!found && *pos != '\0') {
        pos = NextSemicolonItem(item, pos);
        found = strlen(item) < kMaxPathChars && CompareTextNoCase(item, directory) == 0;
    }
    FreeLockedBuffer(value);
    return found;
}

BOOL IsWindowsSystemOrPathDirectory(LPCSTR directory) {
    CHAR system[PATH_BUFFER_SIZE];
    UINT cch = GetWindowsDirectoryA(system, sizeof(system));
    if (cch > 0 && cch < sizeof(system) && CompareTextNoCase(system, directory) == 0) return 1;
    cch = GetSystemDirectoryA(system, sizeof(system));
    if (cch > 0 && cch < sizeof(system) && CompareTextNoCase(system, directory) == 0) return 1;
    return IsDirectoryInPath(directory);
}

CHAR CharUpperOne(CHAR ch) {
    // CharUpperA takes a single character in the low word of its argument and returns it so.
    const UINT_PTR single = static_cast<BYTE>(ch);
    return static_cast<CHAR>(
        static_cast<BYTE>(reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(single)))));
}
