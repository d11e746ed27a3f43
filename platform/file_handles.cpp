// The handle-based file calls (_lopen family). An HFILE is the host file descriptor; only
// descriptors opened here are accepted. Only regular files are ever opened: links, FIFOs, sockets
// and devices fail at once, and the open itself is non-blocking, so nothing here can hang.
#include "file_handles.h"

#include "file_attributes.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "path_resolution.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <map>

namespace host {
namespace {

// What the layer knows of each open file without asking the kernel: the position (-1: unknown,
// after a failed read or write) and its size when opened, or as far as its writes reached.
struct OpenFile {
    int64_t position = 0;
    int64_t knownSize = 0;
};

std::map<int, OpenFile> g_openFiles;

template <typename T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

bool IsOpen(HFILE hFile) { return g_openFiles.count(hFile) != 0; }

OpenFile *Find(HFILE hFile) {
    auto it = g_openFiles.find(hFile);
    return it == g_openFiles.end() ? nullptr : &it->second;
}

// Opens the regular file `name` of the directory open at dirFd without following a link and without
// blocking; returns the descriptor or -1 with the last-error value set.
int OpenRegularFile(int dirFd, const std::string &name, int flags) {
    const int openFlags = flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = openat(dirFd, name.c_str(), openFlags, 0666);
    if (fd < 0) return Fail(ErrorFromErrno(errno), -1);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED, -1);
    }
    // O_NONBLOCK, which kept the open from waiting on a FIFO, changes nothing for a regular file's
    // reads and writes: it stays.
    try {
        g_openFiles[fd] = OpenFile{0, (flags & O_TRUNC) != 0 ? 0 : static_cast<int64_t>(st.st_size)};
    } catch (...) {
        close(fd);  // out of memory: the caller fails, without a descriptor it cannot close
        throw;
    }
    return fd;
}

// What an existing entry must be for the file calls: a regular file, writable when writing.
DWORD CheckOpenable(const ResolvedPath &resolved, bool write) {
    if (!resolved.bExists) return ERROR_FILE_NOT_FOUND;
    if (resolved.bIsRoot || !S_ISREG(resolved.st.st_mode)) return ERROR_ACCESS_DENIED;
    if (write && (resolved.st.st_mode & S_IWUSR) == 0) return ERROR_ACCESS_DENIED;  // read-only
    return ERROR_SUCCESS;
}

// A short read that reaches the file's known size is taken as its end, without a second read to
// hear so; a file that has grown since is read on.
long ReadAll(HFILE hFile, void *buffer, size_t count) {
    OpenFile *file = Find(hFile);
    if (file == nullptr) return Fail(ERROR_INVALID_HANDLE, -1L);
    if (buffer == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER, -1L);
    size_t done = 0;
    while (done < count) {
        ssize_t got = read(hFile, static_cast<char *>(buffer) + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            file->position = -1;
            return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT, -1L);
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
        if (file->position >= 0) file->position += got;
        if (done < count && file->position >= file->knownSize) break;
    }
    return static_cast<long>(done);
}

// A write of zero bytes truncates the file at the current position, as on Windows.
long WriteAll(HFILE hFile, const void *buffer, size_t count) {
    OpenFile *file = Find(hFile);
    if (file == nullptr) return Fail(ERROR_INVALID_HANDLE, -1L);
    if (count == 0) {
        off_t position = file->position >= 0 ? static_cast<off_t>(file->position) : lseek(hFile, 0, SEEK_CUR);
        if (position < 0 || ftruncate(hFile, position) != 0)
            return Fail(errno == EINVAL || errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno), -1L);
        return 0;
    }
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER, -1L);
    size_t done = 0;
    while (done < count) {
        ssize_t put = write(hFile, static_cast<const char *>(buffer) + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        // EFBIG: past the file size limit, with SIGXFSZ ignored (else the signal ends the process).
        if (put < 0) file->position = -1;
        if (put < 0)
            return Fail(errno == EBADF                       ? ERROR_ACCESS_DENIED
                        : errno == ENOSPC || errno == EDQUOT ? kErrorDiskFull
                        : errno == EFBIG                     ? kErrorFileTooLarge
                                                             : ERROR_WRITE_FAULT,
                        -1L);
        done += static_cast<size_t>(put);
        if (file->position >= 0) file->position += put;
        if (file->position > file->knownSize) file->knownSize = file->position;
    }
    return static_cast<long>(done);
}

}  // namespace

void CloseAllFiles() {
    for (const auto &open : g_openFiles) close(open.first);
    g_openFiles.clear();
}

}  // namespace host

// OF_READ, OF_WRITE or OF_READWRITE; the sharing bits are accepted and ignored.
extern "C" HFILE WINAPI _lopen(LPCSTR lpPathName, int iReadWrite) {
    return host::Guarded<HFILE>(HFILE_ERROR, [&]() -> HFILE {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        int access = iReadWrite & 3;
        if (access == 3) return host::Fail(ERROR_INVALID_PARAMETER, HFILE_ERROR);
        host::ResolvedPath resolved;
        DWORD error = host::ResolveWindowsPath(lpPathName, &resolved);
        if (error == ERROR_SUCCESS) error = host::CheckOpenable(resolved, access != OF_READ);
        if (error != ERROR_SUCCESS) return host::Fail(error, HFILE_ERROR);
        static const int kFlags[] = {O_RDONLY, O_WRONLY, O_RDWR};
        return host::OpenRegularFile(resolved.ParentFd(), resolved.name, kFlags[access]);
    });
}

// Creates or truncates, open for reading and writing. Attribute 1 makes the file read-only (the
// handle stays writable), 2 hidden (kept on drives that keep DOS attributes). As on Windows, an
// existing read-only file is refused, and so is an existing file marked hidden in user.DOSATTRIB
// unless attribute 2 is asked for.
extern "C" HFILE WINAPI _lcreat(LPCSTR lpPathName, int iAttribute) {
    return host::Guarded<HFILE>(HFILE_ERROR, [&]() -> HFILE {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath resolved;
        DWORD error = host::ResolveWindowsPath(lpPathName, &resolved);
        if (error == ERROR_SUCCESS && resolved.bExists) {
            error = host::CheckOpenable(resolved, /*write=*/true);
            if (error == ERROR_SUCCESS && (iAttribute & FILE_ATTRIBUTE_HIDDEN) == 0 && resolved.bDosAttributes &&
                host::HasHiddenAttribute(resolved.hostPath))
                error = ERROR_ACCESS_DENIED;
        }
        if (error != ERROR_SUCCESS) return host::Fail(error, HFILE_ERROR);
        int fd = host::OpenRegularFile(resolved.ParentFd(), resolved.name, O_RDWR | O_CREAT | O_TRUNC);
        if (fd < 0) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
            return HFILE_ERROR;
        }
        if ((iAttribute & FILE_ATTRIBUTE_READONLY) != 0) {
            struct stat st;
            if (fstat(fd, &st) == 0) fchmod(fd, st.st_mode & 07777 & ~(S_IWUSR | S_IWGRP | S_IWOTH));
        }
        if ((iAttribute & FILE_ATTRIBUTE_HIDDEN) != 0 && resolved.bDosAttributes)
            host::StoreHiddenAttribute(resolved.hostPath, true);
        return fd;
    });
}

extern "C" UINT WINAPI _lread(HFILE hFile, LPVOID lpBuffer, UINT uBytes) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    long done = host::ReadAll(hFile, lpBuffer, uBytes);
    return done < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(done);
}

extern "C" long WINAPI _hread(HFILE hFile, LPVOID lpBuffer, long lBytes) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    if (lBytes < 0) return host::Fail(ERROR_INVALID_PARAMETER, long{HFILE_ERROR});
    return host::ReadAll(hFile, lpBuffer, static_cast<size_t>(lBytes));
}

extern "C" UINT WINAPI _lwrite(HFILE hFile, LPCCH lpBuffer, UINT uBytes) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    long done = host::WriteAll(hFile, lpBuffer, uBytes);
    return done < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(done);
}

extern "C" long WINAPI _hwrite(HFILE hFile, LPCCH lpBuffer, long lBytes) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    if (lBytes < 0) return host::Fail(ERROR_INVALID_PARAMETER, long{HFILE_ERROR});
    return host::WriteAll(hFile, lpBuffer, static_cast<size_t>(lBytes));
}

// Positions that do not fit a LONG, or lie before the start, fail and leave the position alone. A
// move to where the file already stands costs no system call.
extern "C" LONG WINAPI _llseek(HFILE hFile, LONG lOffset, int iOrigin) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    host::OpenFile *file = host::Find(hFile);
    if (file == nullptr) return host::Fail(ERROR_INVALID_HANDLE, LONG{HFILE_ERROR});
    int64_t base;
    if (iOrigin == FILE_BEGIN) {
        base = 0;
    } else if (iOrigin == FILE_CURRENT) {
        base = file->position >= 0 ? file->position : lseek(hFile, 0, SEEK_CUR);
    } else if (iOrigin == FILE_END) {
        struct stat st;
        base = fstat(hFile, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    } else {
        return host::Fail(ERROR_INVALID_PARAMETER, LONG{HFILE_ERROR});
    }
    if (base < 0) return host::Fail(ERROR_INVALID_HANDLE, LONG{HFILE_ERROR});
    int64_t target = base + lOffset;
    if (target < 0) return host::Fail(host::kErrorNegativeSeek, LONG{HFILE_ERROR});
    if (target > INT32_MAX) return host::Fail(ERROR_INVALID_PARAMETER, LONG{HFILE_ERROR});
    if (target != file->position) {
        if (lseek(hFile, static_cast<off_t>(target), SEEK_SET) < 0)
            return host::Fail(host::ErrorFromErrno(errno), LONG{HFILE_ERROR});
        file->position = target;
    }
    return static_cast<LONG>(target);
}

extern "C" HFILE WINAPI _lclose(HFILE hFile) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    if (!host::IsOpen(hFile)) return host::Fail(ERROR_INVALID_HANDLE, HFILE_ERROR);
    host::g_openFiles.erase(hFile);
    close(hFile);
    return 0;
}

// Also takes an HFILE of the _lopen family passed as (HANDLE)(INT_PTR)hfile, as Windows does: its
// data and metadata reach the disk (fsync). The handle must be open for writing.
extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    intptr_t value = reinterpret_cast<intptr_t>(hFile);
    if (value < 0 || value > INT_MAX || !host::IsOpen(static_cast<HFILE>(value)))
        return host::Fail(ERROR_INVALID_HANDLE, FALSE);
    int fd = static_cast<int>(value);
    if ((fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) return host::Fail(ERROR_ACCESS_DENIED, FALSE);
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL || errno == EROFS) break;  // nothing that can be flushed
        return host::Fail(errno == ENOSPC || errno == EDQUOT ? host::kErrorDiskFull : ERROR_WRITE_FAULT, FALSE);
    }
    return TRUE;
}
