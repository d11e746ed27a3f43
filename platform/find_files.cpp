// FindFirstFileA / FindNextFileA / FindClose. FindFirstFileA takes a snapshot of the directory's
// listing (listing order: "." and ".." first outside a drive root, then the names sorted by bytes)
// and the handle hands out its matching entries one by one, each record made as it is asked for.
#include "find_files.h"

#include "directory_listing.h"
#include "file_attributes.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "host_machine.h"
#include "listing_observer.h"
#include "listing_read_ahead.h"
#include "path_resolution.h"
#include "short_names.h"

#include <string.h>

#include <algorithm>
#include <map>

namespace host {
namespace {

struct Search {
    std::vector<WIN32_FIND_DATAA> head;  // handed out first: "." and "..", or the entry a name found
    std::vector<ListedEntry> entries;    // then those of these that match the pattern
    std::string pattern;
    std::string dirHostPath;  // for the entries' DOS attributes
    bool bDosAttributes = false;
    size_t nextHead = 0, nextEntry = 0;

    // The next record, or false after the last (when the listing is let go).
    bool Next(WIN32_FIND_DATAA *data);
};

std::map<uintptr_t, Search> g_searches;
uintptr_t g_lastHandle = 0;

// Handles are multiples of four counted up from here: never NULL, never INVALID_HANDLE_VALUE, and
// not reused until the counter wraps.
constexpr uintptr_t kFirstHandle = 0x46460000;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

FILETIME FileTimeOf(const struct timespec &ts) {
    // 100-ns intervals since 1601-01-01 UTC; earlier times are clamped to that date.
    const int64_t kEpochDelta = 11644473600LL;
    int64_t seconds = static_cast<int64_t>(ts.tv_sec) + kEpochDelta;
    uint64_t ticks = seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000ULL + ts.tv_nsec / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// The record of an entry named `name` (shown as `shownName`) at hostPath.
WIN32_FIND_DATAA FindDataOf(const std::string &hostPath, const std::string &name, const std::string &shownName,
                            const std::string &shortName, const EntryStat &st, bool dosAttributes) {
    WIN32_FIND_DATAA data;
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = AttributesOf(hostPath, name, st.st_mode, dosAttributes);
    data.ftCreationTime = FileTimeOf(st.st_ctim);
    data.ftLastAccessTime = FileTimeOf(st.st_atim);
    data.ftLastWriteTime = FileTimeOf(st.st_mtim);
    if (S_ISREG(st.st_mode)) {
        uint64_t size = static_cast<uint64_t>(st.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
    }
    if (S_ISLNK(st.st_mode)) data.dwReserved0 = 0xA000000Cu;  // the reparse tag of a symbolic link
    // Zero-filled above: the names are copied without strncpy's padding, to their NUL or the end.
    memcpy(data.cFileName, shownName.data(), std::min(strlen(shownName.c_str()), sizeof data.cFileName - 1));
    memcpy(data.cAlternateFileName, shortName.data(),
           std::min(strlen(shortName.c_str()), sizeof data.cAlternateFileName - 1));
    return data;
}

// The entry's host path is needed only to read its DOS attributes.
WIN32_FIND_DATAA FindDataOf(const std::string &dirHostPath, bool dosAttributes, const ListedEntry &entry) {
    static const std::string kUnused;
    return FindDataOf(dosAttributes ? JoinHostPath(dirHostPath, entry.name) : kUnused, entry.name, entry.ShownName(),
                      entry.shortName, entry.st, dosAttributes);
}

// Windows wildcard matching on upper-cased text: '*' any run, '?' one character or none in front
// of a dot or at the end, a trailing ".*" also matches a name without extension, and a pattern
// ending in '.' matches names without a dot. Memoised, so any pattern runs in
// O(pattern x name).
class PatternMatcher {
public:
    PatternMatcher(const std::string &pattern, const std::string &name)
        : p_(pattern), n_(name), memo_((pattern.size() + 1) * (name.size() + 1), -1) {}

    bool Match(size_t pi, size_t ni) {
        signed char &memo = memo_[pi * (n_.size() + 1) + ni];
        if (memo < 0) memo = Compute(pi, ni) ? 1 : 0;
        return memo == 1;
    }

private:
    bool Compute(size_t pi, size_t ni) {
        if (pi == p_.size()) return ni == n_.size();
        char pc = p_[pi];
        if (pc == '*') return Match(pi + 1, ni) || (ni < n_.size() && Match(pi, ni + 1));
        if (pc == '?') {
            if (ni < n_.size() && Match(pi + 1, ni + 1)) return true;
            return (ni == n_.size() || n_[ni] == '.') && Match(pi + 1, ni);
        }
        if (pc == '.' && ni == n_.size() && p_.compare(pi, std::string::npos, ".*") == 0) return true;
        return ni < n_.size() && n_[ni] == pc && Match(pi + 1, ni + 1);
    }

    const std::string &p_;
    const std::string &n_;
    std::vector<signed char> memo_;
};

bool MatchesPattern(const std::string &pattern, const std::string &name) {
    if (pattern == "*" || pattern == "*.*") return true;
    std::string p = UpperAnsi(pattern);
    std::string n = UpperAnsi(name);
    if (p.size() > 1 && p.back() == '.' && p != "..") {
        if (n.find('.') != std::string::npos && n != "." && n != "..") return false;
        while (!p.empty() && p.back() == '.') p.pop_back();
        if (p.empty()) return false;
    }
    return PatternMatcher(p, n).Match(0, 0);
}

// A Windows directory holds one entry per name ignoring case. Of host names that differ only in
// case the listing shows the first in byte order (upper case first); an exact path still reaches
// the others.
bool Search::Next(WIN32_FIND_DATAA *data) {
    if (nextHead < head.size()) {
        *data = head[nextHead++];
        return true;
    }
    while (nextEntry < entries.size()) {
        const ListedEntry &entry = entries[nextEntry++];
        if (!entry.bCaseTwin && (MatchesPattern(pattern, entry.ShownName()) ||
                                 (!entry.shortName.empty() && MatchesPattern(pattern, entry.shortName)))) {
            *data = FindDataOf(dirHostPath, bDosAttributes, entry);
            return true;
        }
    }
    entries = {};
    return false;
}

// What the observer hears of a listed directory: what the listing left out, and what the library
// will pass over (see HOST_LISTING_OBSERVER), in host-name order.
void ReportDirectory(const std::string &dirText, bool readable, const std::vector<ListedEntry> &entries,
                     const std::vector<LeftOutEntry> &leftOut) {
    std::string directory;
    if (NormalizeWindowsPath(dirText.c_str(), /*followSubst=*/false, /*trimLast=*/true, &directory) != ERROR_SUCCESS)
        directory = dirText;
    if (!readable) {
        ReportListing(HOST_LISTING_UNREADABLE, directory, "", "");
        return;
    }
    struct Report {
        const std::string *name;
        unsigned reason;
        const std::string *shownAs;
    };
    static const std::string kNone;
    std::vector<Report> reports;
    for (const LeftOutEntry &entry : leftOut)
        reports.push_back(
            {&entry.name, entry.reason, entry.reason == HOST_LISTING_GENERATED_NAME ? &kNone : &entry.name});
    for (const ListedEntry &entry : entries) {
        const bool isDir = S_ISDIR(entry.st.st_mode);
        if (entry.bCaseTwin) {
            reports.push_back({&entry.name, HOST_LISTING_CASE_TWIN, &entry.ShownName()});
            continue;
        }
        const std::string &shownName = entry.ShownName();
        if (!entry.generatedName.empty()) reports.push_back({&entry.name, HOST_LISTING_GENERATED_NAME, &shownName});
        // The library's count: the directory's path, a backslash, the name, and the "\\*.*" that
        // lists a directory.
        const size_t pathChars = directory.size() + 1 + shownName.size() + (isDir ? 4 : 0);
        if (isDir && shownName[0] == '.')
            reports.push_back({&entry.name, HOST_LISTING_DOT_DIRECTORY, &shownName});
        else if (pathChars > kMaxPathChars)
            reports.push_back({&entry.name, HOST_LISTING_PATH_TOO_LONG, &shownName});
        else if (S_ISREG(entry.st.st_mode) && static_cast<uint64_t>(entry.st.st_size) >= (uint64_t{1} << 32))
            reports.push_back({&entry.name, HOST_LISTING_FILE_4GIB, &shownName});
    }
    std::stable_sort(reports.begin(), reports.end(),
                     [](const Report &a, const Report &b) { return *a.name < *b.name; });
    for (const Report &report : reports) ReportListing(report.reason, directory, *report.name, *report.shownAs);
}

// A search of the directory `dir` (named dirText by the caller, open at dirFd) for search->pattern,
// which has wildcards. The directory is read through the descriptor its lookup opened: a link
// swapped in for it after the lookup is never followed.
void ListMatching(const ResolvedPath &dir, int dirFd, const std::string &dirText, Search *search) {
    const struct stat &dirSt = dir.st;
    DirectoryListing listing;
    if (RunListingHook(dir.hostPath)) {
        ForgetListingsReadAhead();  // the hook may have changed anything
        listing.bReadable = ListDirectory(dirFd, dir.driveDev, dirSt.st_size, &listing.entries, &listing.leftOut);
    } else {
        // A listing read ahead had what lies below it queued by the worker.
        if (!TakeListingReadAhead(dir.hostPath, dirSt, &listing)) {
            listing.bReadable = ListDirectory(dirFd, dir.driveDev, dirSt.st_size, &listing.entries, &listing.leftOut);
            if (listing.bReadable) ReadAheadBelow(dirFd, dir.hostPath, dir.driveDev, listing.entries);
        }
    }
    const bool readable = listing.bReadable;
    if (FirstReportOf(dirSt.st_dev, dirSt.st_ino)) ReportDirectory(dirText, readable, listing.entries, listing.leftOut);
    const std::string &pattern = search->pattern;
    std::vector<WIN32_FIND_DATAA> *found = &search->head;
    if (readable && !dir.bIsRoot) {
        // "." is the directory itself, ".." its parent (the root above a first-level directory).
        const struct stat &parent = dir.parentSt;
        std::string parentPath = dir.hostPath.substr(0, dir.hostPath.rfind('/'));
        if (parentPath.empty()) parentPath = "/";
        if (MatchesPattern(pattern, ".")) found->push_back(FindDataOf(dir.hostPath, ".", ".", "", dirSt, false));
        if (MatchesPattern(pattern, "..")) found->push_back(FindDataOf(parentPath, "..", "..", "", parent, false));
    }
    search->entries = std::move(listing.entries);
    search->dirHostPath = dir.hostPath;
    search->bDosAttributes = dir.bDosAttributes;
}

// A handle for the search, whose first record goes to *data; false when nothing matches.
bool StartSearch(Search search, LPWIN32_FIND_DATAA data, HANDLE *handle) {
    if (!search.Next(data)) return false;
    do {
        g_lastHandle = g_lastHandle == 0 ? kFirstHandle : g_lastHandle + 4;
    } while (g_lastHandle == 0 || g_searches.count(g_lastHandle) != 0);
    g_searches[g_lastHandle] = std::move(search);
    *handle = reinterpret_cast<HANDLE>(g_lastHandle);
    return true;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

void CloseAllSearches() { g_searches.clear(); }

}  // namespace host

// The last component may hold '*' and '?'; without them it is looked up like any path component
// (exact name, case-insensitive, short name). A pattern matches a long or a short name. Errors:
// ERROR_FILE_NOT_FOUND (no match, or a directory that cannot be read), ERROR_PATH_NOT_FOUND (the
// directory does not exist), ERROR_NOT_READY, ERROR_FILENAME_EXCED_RANGE (over 299 characters),
// ERROR_INVALID_NAME (wildcards before the last component).
extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    return host::Guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        if (lpFileName == nullptr || lpFindFileData == nullptr) return host::Fail(ERROR_INVALID_PARAMETER);
        size_t length = strlen(lpFileName);
        if (length > host::kMaxPathChars) return host::Fail(ERROR_FILENAME_EXCED_RANGE);

        // Split into the directory and the pattern as text: "X:pattern", "dir\\pattern", "pattern".
        size_t split = length;
        while (split > 0 && !host::IsSeparator(lpFileName[split - 1])) --split;
        std::string dirText(lpFileName, split);
        if (split == 0 && length >= 2 && lpFileName[1] == ':') {
            dirText.assign(lpFileName, 2);
            split = 2;
        }
        std::string pattern(lpFileName + split);
        if (dirText.empty()) dirText = ".";
        if (pattern.empty()) return host::Fail(ERROR_FILE_NOT_FOUND);

        host::ResolvedPath dir;
        host::SharedFd dirFd;
        DWORD error = host::ResolveDirectory(dirText.c_str(), &dir, &dirFd);
        if (error != ERROR_SUCCESS) return host::Fail(error);

        host::Search search;
        if (pattern.find_first_of("*?") == std::string::npos) {
            while (!pattern.empty() && (pattern.back() == '.' || pattern.back() == ' ') && pattern != "." &&
                   pattern != "..")
                pattern.pop_back();
            host::ListedEntry entry;
            if (host::FindComponent(dirFd->Get(), dir.driveDev, pattern, /*wantShortName=*/true, &entry))
                search.head.push_back(host::FindDataOf(dir.hostPath, dir.bDosAttributes, entry));
        } else {
            search.pattern = std::move(pattern);
            host::ListMatching(dir, dirFd->Get(), dirText, &search);
        }
        HANDLE handle;
        if (!host::StartSearch(std::move(search), lpFindFileData, &handle)) return host::Fail(ERROR_FILE_NOT_FOUND);
        return handle;
    });
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        auto it = host::g_searches.find(reinterpret_cast<uintptr_t>(hFindFile));
        if (it == host::g_searches.end() || lpFindFileData == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!it->second.Next(lpFindFileData)) {
            SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        return TRUE;
    });
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    if (host::g_searches.erase(reinterpret_cast<uintptr_t>(hFindFile)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
