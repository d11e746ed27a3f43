// Windows paths on the emulated machine: GetFullPathNameA's text normalisation, substituted
// drives (whose targets are normalised paths), and resolution of a Windows path to a host path.
#include "path_resolution.h"

#include "directory_listing.h"
#include "drives.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "host_machine.h"
#include "listing_read_ahead.h"
#include "short_names.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace host {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Appends the components of `text` to `parts`, applying "." and ".."; ".." never climbs above the
// root. trimLast drops trailing dots and spaces of the last component as Windows does ("a.txt." is
// "a.txt"); a path that ends with a separator has no last component to trim.
void AddComponents(const char *text, std::vector<std::string> *parts, bool trimLast = false) {
    const char *p = text;
    while (*p != '\0') {
        while (IsSeparator(*p)) ++p;
        const char *start = p;
        while (*p != '\0' && !IsSeparator(*p)) ++p;
        std::string part(start, p);
        if (part == "..") {
            if (!parts->empty()) parts->pop_back();
            continue;
        }
        if (trimLast && *p == '\0' && part != ".")
            while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty() || part == ".") continue;
        parts->push_back(std::move(part));
    }
}

// The length of `path` in the form normalising gives, when it is a full path in that form but for
// a trailing backslash ("X:\" or "X:\A\B", "X:\A\B\": one backslash between components, none
// of them empty, "." or "..", no slash, and a last component that trimming leaves alone), which
// then normalises to those characters with its drive letter upper-case; 0 for any other path.
// The walk hands most paths over in this form.
size_t NormalFullPathLength(const char *path, bool trimLast) {
    if (!IsLetter(path[0]) || path[1] != ':' || path[2] != '\\') return 0;
    if (path[3] == '\0') return 3;
    const char *component = path + 3;
    for (const char *p = component;; ++p) {
        if (*p != '\\' && *p != '/' && *p != '\0') continue;
        const size_t cch = static_cast<size_t>(p - component);
        if (cch == 0 && *p == '\0') return static_cast<size_t>(p - path) - 1;  // after "X:\A\"
        if (*p == '/' || cch == 0 || (component[0] == '.' && (cch == 1 || (cch == 2 && component[1] == '.')))) return 0;
        if (*p == '\0') return !trimLast || (p[-1] != '.' && p[-1] != ' ') ? static_cast<size_t>(p - path) : 0;
        component = p + 1;
    }
}

// The path a substituted drive stands for ("C:\DIR"), or "" for any other drive.
std::string SubstTargetOf(char letter) {
    DriveInfo drive;
    return LookupDrive(letter, &drive) ? drive.substTarget : std::string();
}

}  // namespace

DWORD NormalizeWindowsPath(const char *path, bool followSubst, bool trimLast, std::string *out) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (path[0] == '\0') return ERROR_INVALID_NAME;
    if (strlen(path) > kMaxPathChars) return ERROR_FILENAME_EXCED_RANGE;
    const size_t cchNormal = NormalFullPathLength(path, trimLast);
    if (cchNormal != 0 && !(followSubst && !SubstTargetOf(UpperLetter(path[0])).empty())) {
        out->assign(path, cchNormal);
        (*out)[0] = UpperLetter(path[0]);
        return ERROR_SUCCESS;
    }

    std::string prefix;  // "X:" or "\\\\server\\share"
    std::vector<std::string> parts;
    const char *rest = path;
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        // UNC: the server and share are the root and are never climbed out of.
        std::vector<std::string> unc;
        AddComponents(path + 2, &unc);
        if (unc.size() < 2) return ERROR_INVALID_NAME;
        prefix = "\\\\" + unc[0] + "\\" + unc[1];
        parts.assign(unc.begin() + 2, unc.end());
        rest = "";
    } else if (IsLetter(path[0]) && path[1] == ':') {
        char drive = UpperLetter(path[0]);
        prefix = std::string(1, drive) + ":";
        rest = path + 2;
        if (!IsSeparator(*rest)) AddComponents(CurrentDirectoryOf(drive).c_str() + 2, &parts);
    } else {
        char drive = CurrentDrive();
        prefix = std::string(1, drive) + ":";
        if (!IsSeparator(*rest)) AddComponents(CurrentDirectoryOf(drive).c_str() + 2, &parts);
    }
    AddComponents(rest, &parts, trimLast);

    std::string result = prefix;
    if (followSubst && prefix.size() == 2) {
        const std::string target = SubstTargetOf(prefix[0]);
        if (!target.empty()) {
            result = target;
            if (result.back() == '\\') result.pop_back();
        }
    }
    for (const std::string &part : parts) result += "\\" + part;
    if (parts.empty() && prefix.size() == 2 && result.size() == 2) result += "\\";
    if (result.size() > kMaxPathChars) return ERROR_FILENAME_EXCED_RANGE;
    *out = result;
    return ERROR_SUCCESS;
}

namespace {

// The directories of the last path resolved on a drive, root first, each with the name it was
// opened under and its identity. A resolution takes each again while the name it asks for is that
// name and still leads to the same directory (one lstat each, as a path walk costs), instead of
// opening it afresh.
struct OpenDirectory {
    std::string name;  // host name (host path of the root)
    SharedFd fd;
    dev_t dev;
    ino_t ino;
    struct stat st;  // as the last walk through it found it
};

struct DirectoryChain {
    std::string hostRoot;
    dev_t rootDev = 0;
    std::string rootPath;  // hostRoot as the kernel names the root's descriptor, "" when it differs
    std::vector<OpenDirectory> dirs;
};

std::array<DirectoryChain, 26> g_chains;

bool SameDirectory(const struct stat &st, const OpenDirectory &dir) {
    return S_ISDIR(st.st_mode) && st.st_dev == dir.dev && st.st_ino == dir.ino;
}

// From this depth on, a kept chain is checked with one resolution from the root rather than with a
// stat of each of its directories.
constexpr size_t kCheckChainAtOnceFrom = 4;

// Whether the names of dirs[1, count] still lead from the root, without links and without leaving
// the root's mount, to the directories kept for them; *st is then the last one's fresh stat. The
// kernel resolves the whole chain in one call; where it cannot (no openat2, a bind mount on the
// way) the answer is no and the caller checks one directory at a time.
bool ChainStillLeads(const std::vector<OpenDirectory> &dirs, size_t count, struct stat *st) {
#ifdef SYS_openat2
    std::string relative = dirs[1].name;
    for (size_t i = 2; i <= count; ++i) relative += '/' + dirs[i].name;
    struct open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
    const UniqueFd last(static_cast<int>(syscall(SYS_openat2, dirs[0].fd->Get(), relative.c_str(), &how, sizeof how)));
    return last.Valid() && fstat(last.Get(), st) == 0 && SameDirectory(*st, dirs[count]);
#else
    (void)dirs, (void)count, (void)st;
    return false;
#endif
}

// /proc/self/fd, where the kernel gives the current path of each open descriptor; -1 without /proc.
// A forked child opens its own, since the parent's names the parent's descriptors.
int ProcessDescriptorDirectory() {
    static int fd = -2;
    if (fd == -2) {
        fd = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
        static const int registered = pthread_atfork(nullptr, nullptr, [] {
            if (fd >= 0) close(fd);
            fd = -2;
        });
        (void)registered;
    }
    return fd;
}

// Whether the kernel names the directory open at fd `path` now: then every directory on the way
// still has the name it had and leads to the next one, none of them a link, and the last is the
// directory open at fd. A deleted or moved directory is named otherwise.
bool DescriptorPathIs(int fd, const std::string &path) {
    const int procFd = ProcessDescriptorDirectory();
    if (procFd < 0) return false;
    char name[16], current[4096];
    snprintf(name, sizeof name, "%d", fd);
    const ssize_t cch = readlinkat(procFd, name, current, sizeof current);
    return cch > 0 && static_cast<size_t>(cch) == path.size() && memcmp(current, path.data(), path.size()) == 0;
}

// Whether the root and dirs[1, count] of the kept chain are still where their names put them, in
// one system call. False when that cannot be told so (a root reached through a link, no /proc).
bool KeptChainIsCurrent(const DirectoryChain &chain, size_t count) {
    if (chain.rootPath.empty()) return false;
    std::string path = chain.rootPath;
    for (size_t i = 1; i <= count; ++i) {
        if (path.back() != '/') path += '/';
        path += chain.dirs[i].name;
    }
    return DescriptorPathIs(chain.dirs[count].fd->Get(), path);
}

// Drops the chain's directories from dirs[keep] on. Closing a directory costs the walk about as much
// as opening one, so the read-ahead thread closes them when it runs.
void DropFrom(std::vector<OpenDirectory> &dirs, size_t keep) {
    if (dirs.size() <= keep) return;
    static std::vector<SharedFd> dropped;  // used under the file-system lock, as the chains are
    for (size_t i = keep; i < dirs.size(); ++i) dropped.push_back(std::move(dirs[i].fd));
    dirs.resize(keep);
    CloseOnReadAheadThread(dropped);
    dropped.clear();  // those the read-ahead thread did not take
}

SharedFd SharedOrNull(UniqueFd fd) { return fd.Valid() ? std::make_shared<const UniqueFd>(std::move(fd)) : nullptr; }

// How many of parts[0, count) the kept chain holds under the same names.
size_t KeptByName(const std::vector<OpenDirectory> &dirs, const std::vector<std::string> &parts, size_t count) {
    size_t kept = 0;
    while (kept < count && kept + 1 < dirs.size() && dirs[kept + 1].name == parts[kept]) ++kept;
    return kept;
}

// Opens the drive's root and the directories parts[0, count) below it, each relative to the one
// before (see ResolveWindowsPath). On success the chain's first count + 1 entries are they and
// *host the last one's host path. With st, *st is the last one's fstat and the chain holds fresh
// stats of it and of its parent.
bool OpenDirectories(const DriveInfo &drive, const std::vector<std::string> &parts, size_t count, std::string *host,
                     struct stat *st) {
    DirectoryChain &chain = g_chains[drive.chLetter - 'A'];
    if (chain.hostRoot != drive.hostRoot || chain.rootDev != drive.rootDev) {
        chain = DirectoryChain();
        chain.hostRoot = drive.hostRoot;
        chain.rootDev = drive.rootDev;
    }
    const bool wantStats = st != nullptr;
    struct stat scratch;
    if (!wantStats) st = &scratch;
    std::vector<OpenDirectory> &dirs = chain.dirs;
    *host = drive.hostRoot;
    size_t checked = 0;  // leading parts whose kept directories are known to be still theirs
    // Takes the first n kept directories as still theirs, dirs[n].st being fresh where stats are
    // wanted. A resolution that ends in the kept chain reports the parent's stat too: taken afresh,
    // as the check one directory at a time does.
    const auto takeKept = [&](size_t n) {
        if (wantStats && n == count && fstat(dirs[n - 1].fd->Get(), &dirs[n - 1].st) != 0) return;
        *st = dirs[n].st;
        checked = n;
    };
    size_t kept = dirs.empty() ? 0 : KeptByName(dirs, parts, count);
    if (kept > 0 && KeptChainIsCurrent(chain, kept) && (!wantStats || fstat(dirs[kept].fd->Get(), &dirs[kept].st) == 0))
        takeKept(kept);
    if (checked == 0) {
        if (dirs.empty() || lstat(drive.hostRoot.c_str(), st) != 0 || !SameDirectory(*st, dirs[0])) {
            dirs.clear();
            UniqueFd root = OpenDriveRoot(drive.hostRoot, st);
            if (!root.Valid()) return false;
            std::string rootPath = drive.hostRoot;
            while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
            chain.rootPath = DescriptorPathIs(root.Get(), rootPath) ? rootPath : std::string();
            dirs.push_back(OpenDirectory{drive.hostRoot, std::make_shared<UniqueFd>(std::move(root)), st->st_dev,
                                         st->st_ino, *st});
        }
        dirs[0].st = *st;
        kept = KeptByName(dirs, parts, count);
        if (kept >= kCheckChainAtOnceFrom && ChainStillLeads(dirs, kept, st)) {
            dirs[kept].st = *st;
            takeKept(kept);
        }
    }
    for (size_t i = 0; i < checked; ++i) AppendHostName(host, parts[i]);
    for (size_t i = checked; i < count; ++i) {
        const std::string &part = parts[i];
        const int parentFd = dirs[i].fd->Get();
        if (i + 1 < dirs.size() && dirs[i + 1].name == part &&
            fstatat(parentFd, part.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 && SameDirectory(*st, dirs[i + 1])) {
            dirs[i + 1].st = *st;
            AppendHostName(host, part);
            continue;
        }
        DropFrom(dirs, i + 1);
        SharedFd next;
        std::string name = part;
        if (!IsInvalidWindowsName(part)) {
            // A directory whose listing was read ahead is already open.
            next = TakeDescriptorReadAhead(JoinHostPath(*host, part), parentFd, part, drive.rootDev, st);
            if (!next) next = SharedOrNull(OpenSubdirectory(parentFd, part, drive.rootDev, st));
        }
        if (!next) {
            ListedEntry entry;
            if (!FindComponent(parentFd, drive.rootDev, part, /*wantShortName=*/false, &entry) ||
                !S_ISDIR(entry.st.st_mode))
                return false;
            next = SharedOrNull(OpenSubdirectory(parentFd, entry.name, drive.rootDev, st));
            if (!next) return false;
            name = entry.name;
        }
        dirs.push_back(OpenDirectory{name, std::move(next), st->st_dev, st->st_ino, *st});
        AppendHostName(host, name);
    }
    return true;
}

// The steps the resolutions share: the normalised path, its drive and its components, with *out
// reset to name the path and its drive.
DWORD BeginResolution(const char *path, ResolvedPath *out, DriveInfo *drive, std::vector<std::string> *parts) {
    std::string full;
    DWORD error = NormalizeWindowsPath(path, /*followSubst=*/true, /*trimLast=*/true, &full);
    if (error != ERROR_SUCCESS) return error;
    if (!IsLetter(full[0]) || full[1] != ':') return ERROR_PATH_NOT_FOUND;  // UNC: no network here
    if (!LookupDrive(full[0], drive) || !drive->substTarget.empty()) return ERROR_PATH_NOT_FOUND;
    if (!drive->bHasMedium) return ERROR_NOT_READY;
    AddComponents(full.c_str() + 2, parts);
    for (const std::string &part : *parts)
        if (HasInvalidNameCharacters(part)) return ERROR_INVALID_NAME;
    *out = ResolvedPath();
    out->windowsPath = full;
    out->chDrive = drive->chLetter;
    out->driveDev = drive->rootDev;
    out->bDosAttributes = drive->bDosAttributes;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ResolveWindowsPath(const char *path, ResolvedPath *out) {
    DriveInfo drive;
    std::vector<std::string> parts;
    DWORD error = BeginResolution(path, out, &drive, &parts);
    if (error != ERROR_SUCCESS) return error;
    std::string host;
    struct stat dirSt;
    const size_t count = parts.empty() ? 0 : parts.size() - 1;
    // Only the root's own stat is reported; a file's directory is only looked in.
    if (!OpenDirectories(drive, parts, count, &host, parts.empty() ? &dirSt : nullptr)) return ERROR_PATH_NOT_FOUND;
    out->parent = g_chains[drive.chLetter - 'A'].dirs[count].fd;
    if (parts.empty()) {
        out->hostPath = host;
        out->bIsRoot = true;
        out->bExists = true;
        out->st = dirSt;
        return ERROR_SUCCESS;
    }
    ListedEntry last;
    struct stat lastSt;
    if (FindComponent(out->ParentFd(), drive.rootDev, parts.back(), /*wantShortName=*/false, &last, &lastSt)) {
        out->bExists = true;
        out->name = last.name;
        out->st = lastSt;
    } else {
        out->name = parts.back();
    }
    out->hostPath = JoinHostPath(host, out->name);
    return ERROR_SUCCESS;
}

DWORD ResolveExistingPath(const char *path, ResolvedPath *out) {
    DWORD error = ResolveWindowsPath(path, out);
    return error == ERROR_SUCCESS && !out->bExists ? ERROR_FILE_NOT_FOUND : error;
}

DWORD ResolveDirectory(const char *path, ResolvedPath *out, SharedFd *dirFd) {
    DriveInfo drive;
    std::vector<std::string> parts;
    DWORD error = BeginResolution(path, out, &drive, &parts);
    if (error != ERROR_SUCCESS) return error;
    if (!OpenDirectories(drive, parts, parts.size(), &out->hostPath, &out->st)) return ERROR_PATH_NOT_FOUND;
    const std::vector<OpenDirectory> &dirs = g_chains[drive.chLetter - 'A'].dirs;
    out->bExists = true;
    out->bIsRoot = parts.empty();
    out->name = parts.empty() ? std::string() : dirs[parts.size()].name;
    out->parent = dirs[parts.empty() ? 0 : parts.size() - 1].fd;
    out->parentSt = dirs[parts.empty() ? 0 : parts.size() - 1].st;
    *dirFd = dirs[parts.size()].fd;
    return ERROR_SUCCESS;
}

void ForgetOpenDirectories() {
    for (DirectoryChain &chain : g_chains) chain = DirectoryChain();
}

DWORD ReturnString(const std::string &text, DWORD size, LPSTR buffer) {
    if (buffer == nullptr || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace host

// Pure text: no component needs to exist. A path on a substituted drive comes back on its target.
// A trailing separator is kept; *lpFilePart points at the last component, or is NULL when the path
// ends with a separator. Results longer than 299 characters fail (ERROR_FILENAME_EXCED_RANGE).
extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR *lpFilePart) {
    return host::Guarded<DWORD>(0, [&]() -> DWORD {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        std::string full;
        DWORD error = host::NormalizeWindowsPath(lpFileName, /*followSubst=*/true, /*trimLast=*/true, &full);
        if (error == ERROR_SUCCESS) {
            // A trailing separator stays, except after a root (the root of a substituted drive is
            // its target directory, without one).
            size_t length = strlen(lpFileName);
            std::string unsubstituted;
            host::NormalizeWindowsPath(lpFileName, /*followSubst=*/false, /*trimLast=*/true, &unsubstituted);
            if (host::IsSeparator(lpFileName[length - 1]) && unsubstituted.back() != '\\') full += '\\';
            if (full.size() > host::kMaxPathChars) error = ERROR_FILENAME_EXCED_RANGE;
        }
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return 0;
        }
        DWORD result = host::ReturnString(full, nBufferLength, lpBuffer);
        if (lpFilePart != nullptr && result == full.size()) {
            size_t slash = full.rfind('\\');
            *lpFilePart = slash + 1 < full.size() ? lpBuffer + slash + 1 : nullptr;
        }
        return result;
    });
}

extern "C" int HostMachine_ResolvePath(const char *windowsPath, char *hostPath, unsigned long size) {
    return host::Guarded<int>(0, [&]() -> int {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        if (host::ResolveWindowsPath(windowsPath, &resolved) != ERROR_SUCCESS) return 0;
        if (hostPath == nullptr || resolved.hostPath.size() + 1 > size) return 0;
        memcpy(hostPath, resolved.hostPath.c_str(), resolved.hostPath.size() + 1);
        return 1;
    });
}

// The target must be a full path ("X:\\...") on another letter; it need not exist yet. A target on
// a drive that is itself substituted does not resolve (one level of substitution only).
extern "C" int HostMachine_SubstDrive(char letter, const char *target) {
    return host::Guarded<int>(0, [&]() -> int {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        if (!host::IsLetter(letter) || target == nullptr || !host::IsLetter(target[0]) || target[1] != ':' ||
            !host::IsSeparator(target[2]) || host::UpperLetter(target[0]) == host::UpperLetter(letter))
            return 0;
        std::string normalised;
        if (host::NormalizeWindowsPath(target, /*followSubst=*/false, /*trimLast=*/true, &normalised) != ERROR_SUCCESS)
            return 0;
        host::SubstituteDrive(letter, normalised);
        return 1;
    });
}
