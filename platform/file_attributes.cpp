// Windows attributes over POSIX: read-only is the owner's write permission, hidden is a leading dot
// or, on drives that keep DOS attributes, the hidden bit of the user.DOSATTRIB extended attribute
// (the place Samba keeps them), links are reparse points. Also DeleteFileA and CreateDirectoryA.
#include "file_attributes.h"

#include "file_system_lock.h"
#include "host_errors.h"
#include "path_resolution.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace host {
namespace {

const char kDosAttribName[] = "user.DOSATTRIB";

void Fail(DWORD error) { SetLastError(error); }

}  // namespace

// Only the text form is read; Samba's binary forms are not, and count as not hidden.
bool HasHiddenAttribute(const std::string &hostPath) {
    char value[64];
    ssize_t length = lgetxattr(hostPath.c_str(), kDosAttribName, value, sizeof value - 1);
    if (length < 3) return false;
    value[length] = '\0';
    if (value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) return false;
    return (strtoul(value + 2, nullptr, 16) & FILE_ATTRIBUTE_HIDDEN) != 0;
}

void StoreHiddenAttribute(const std::string &hostPath, bool hidden) {
    if (hidden) {
        char value[16];
        int length = snprintf(value, sizeof value, "0x%x", FILE_ATTRIBUTE_HIDDEN);
        lsetxattr(hostPath.c_str(), kDosAttribName, value, static_cast<size_t>(length), 0);
    } else {
        lremovexattr(hostPath.c_str(), kDosAttribName);
    }
}

DWORD AttributesOf(const std::string &hostPath, const std::string &name, mode_t mode, bool dosAttributes) {
    DWORD attributes = 0;
    if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(mode))
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    else if ((mode & S_IWUSR) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    const bool dotEntry = name == "." || name == "..";
    if (!name.empty() && name[0] == '.' && !dotEntry)
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    else if (dosAttributes && !dotEntry && (S_ISREG(mode) || S_ISDIR(mode)) && HasHiddenAttribute(hostPath))
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace host

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    return host::Guarded<DWORD>(INVALID_FILE_ATTRIBUTES, [&]() -> DWORD {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        DWORD error = host::ResolveExistingPath(lpFileName, &resolved);
        if (error != ERROR_SUCCESS) {
            host::Fail(error);
            return INVALID_FILE_ATTRIBUTES;
        }
        return host::AttributesOf(resolved.hostPath, resolved.name, resolved.st.st_mode, resolved.bDosAttributes);
    });
}

// Read-only clears every write bit, its absence gives the owner write back (links have no
// permissions and are left alone). Hidden goes to user.DOSATTRIB on a drive that keeps DOS
// attributes, where the file system can hold it.
// Other bits are accepted and not kept. TRUE when the entry exists and the permissions changed.
extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        DWORD error = host::ResolveExistingPath(lpFileName, &resolved);
        if (error != ERROR_SUCCESS) {
            host::Fail(error);
            return FALSE;
        }
        if (!S_ISLNK(resolved.st.st_mode)) {
            mode_t mode = resolved.st.st_mode & 07777;
            mode_t wanted = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0
                                ? mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                                : mode | S_IWUSR;
            if (wanted != mode && fchmodat(resolved.AtDir(), resolved.AtName(), wanted, 0) != 0) {
                host::Fail(host::ErrorFromErrno(errno));
                return FALSE;
            }
        }
        if (resolved.bDosAttributes)
            host::StoreHiddenAttribute(resolved.hostPath, (dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0);
        return TRUE;
    });
}

// Files only; a link is removed itself. A read-only file is refused, as on Windows.
extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        DWORD error = host::ResolveExistingPath(lpFileName, &resolved);
        if (error == ERROR_SUCCESS && (resolved.bIsRoot || S_ISDIR(resolved.st.st_mode))) error = ERROR_ACCESS_DENIED;
        if (error == ERROR_SUCCESS && !S_ISLNK(resolved.st.st_mode) && (resolved.st.st_mode & S_IWUSR) == 0)
            error = ERROR_ACCESS_DENIED;
        if (error == ERROR_SUCCESS && unlinkat(resolved.AtDir(), resolved.AtName(), 0) != 0)
            error = host::ErrorFromErrno(errno);
        if (error != ERROR_SUCCESS) {
            host::Fail(error);
            return FALSE;
        }
        return TRUE;
    });
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        DWORD error = host::ResolveWindowsPath(lpPathName, &resolved);
        if (error == ERROR_SUCCESS && resolved.bExists) error = ERROR_ALREADY_EXISTS;
        if (error == ERROR_SUCCESS && mkdirat(resolved.AtDir(), resolved.AtName(), 0777) != 0)
            error = host::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
        if (error != ERROR_SUCCESS) {
            host::Fail(error);
            return FALSE;
        }
        return TRUE;
    });
}
