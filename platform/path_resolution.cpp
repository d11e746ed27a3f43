// Windows paths on the emulated machine: GetFullPathNameA's text normalisation, substituted
// drives (whose targets are normalised paths), and resolution of a Windows path to a host path.
#include "path_resolution.h"

#include "directory_listing.h"
#include "drives.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "host_machine.h"
#include "short_names.h"

#include <fcntl.h>
#include <string.h>

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
        parts->push_back(part);
    }
}

}  // namespace

DWORD NormalizeWindowsPath(const char *path, bool followSubst, bool trimLast, std::string *out) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    if (path[0] == '\0') return ERROR_INVALID_NAME;
    if (strlen(path) > kMaxPathChars) return ERROR_FILENAME_EXCED_RANGE;

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
        DriveInfo drive;
        if (LookupDrive(prefix[0], &drive) && !drive.substTarget.empty()) {
            result = drive.substTarget;
            if (result.back() == '\\') result.pop_back();
        }
    }
    for (const std::string &part : parts) result += "\\" + part;
    if (parts.empty() && prefix.size() == 2 && result.size() == 2) result += "\\";
    if (result.size() > kMaxPathChars) return ERROR_FILENAME_EXCED_RANGE;
    *out = result;
    return ERROR_SUCCESS;
}

DWORD ResolveWindowsPath(const char *path, ResolvedPath *out) {
    std::string full;
    DWORD error = NormalizeWindowsPath(path, /*followSubst=*/true, /*trimLast=*/true, &full);
    if (error != ERROR_SUCCESS) return error;
    if (!IsLetter(full[0]) || full[1] != ':') return ERROR_PATH_NOT_FOUND;  // UNC: no network here

    DriveInfo drive;
    if (!LookupDrive(full[0], &drive) || !drive.substTarget.empty()) return ERROR_PATH_NOT_FOUND;
    if (!drive.bHasMedium) return ERROR_NOT_READY;

    std::vector<std::string> parts;
    AddComponents(full.c_str() + 2, &parts);
    for (const std::string &part : parts)
        if (HasInvalidNameCharacters(part)) return ERROR_INVALID_NAME;

    *out = ResolvedPath();
    out->windowsPath = full;
    out->chDrive = drive.chLetter;
    out->driveDev = drive.rootDev;
    std::string host = drive.hostRoot;
    struct stat dirSt;
    UniqueFd dir = OpenDriveRoot(host, &dirSt);
    if (!dir.Valid()) return ERROR_PATH_NOT_FOUND;
    if (parts.empty()) {
        out->hostPath = host;
        out->bIsRoot = true;
        out->bExists = true;
        out->st = dirSt;
        out->parentFd = std::move(dir);
        return ERROR_SUCCESS;
    }
    // Each directory is opened relative to the one before, never through a link: what is entered
    // is what was looked up, whatever is renamed or swapped meanwhile.
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        UniqueFd next;
        if (!IsInvalidWindowsName(parts[i])) next = OpenSubdirectory(dir.Get(), parts[i], drive.rootDev, nullptr);
        std::string name = parts[i];
        if (!next.Valid()) {
            ListedEntry entry;
            if (!FindComponent(dir.Get(), drive.rootDev, parts[i], /*wantShortName=*/false, &entry) ||
                !S_ISDIR(entry.st.st_mode))
                return ERROR_PATH_NOT_FOUND;
            next = OpenSubdirectory(dir.Get(), entry.name, drive.rootDev, nullptr);
            if (!next.Valid()) return ERROR_PATH_NOT_FOUND;
            name = entry.name;
        }
        dir = std::move(next);
        host = JoinHostPath(host, name);
    }
    ListedEntry last;
    if (FindComponent(dir.Get(), drive.rootDev, parts.back(), /*wantShortName=*/false, &last)) {
        out->bExists = true;
        out->name = last.name;
        out->st = last.st;
    } else {
        out->name = parts.back();
    }
    out->hostPath = JoinHostPath(host, out->name);
    out->parentFd = std::move(dir);
    return ERROR_SUCCESS;
}

DWORD ResolveExistingPath(const char *path, ResolvedPath *out) {
    DWORD error = ResolveWindowsPath(path, out);
    return error == ERROR_SUCCESS && !out->bExists ? ERROR_FILE_NOT_FOUND : error;
}

UniqueFd OpenResolvedDirectory(const ResolvedPath &resolved, struct stat *st) {
    if (resolved.bIsRoot) {
        UniqueFd fd(fcntl(resolved.parentFd.Get(), F_DUPFD_CLOEXEC, 0));
        if (fd.Valid() && fstat(fd.Get(), st) != 0) fd.Reset();
        return fd;
    }
    return OpenSubdirectory(resolved.parentFd.Get(), resolved.name, resolved.driveDev, st);
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
