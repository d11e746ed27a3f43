// MoveFileExA over rename(2): files only, within one drive, replacing an existing file only when
// asked and never a read-only one or a directory, as on Windows. Attributes travel with the file.
// MOVEFILE_WRITE_THROUGH returns once the rename is on the disk: the directories are flushed.
#include "file_system_lock.h"
#include "host_errors.h"
#include "path_resolution.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

// Flushes the directory open (perhaps for lookups only) at dirFd; ERROR_SUCCESS or a last-error value.
DWORD FlushDirectory(int dirFd) {
    host::UniqueFd fd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) return host::ErrorFromErrno(errno);
    while (fsync(fd.Get()) != 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL || errno == EROFS) break;  // nothing that can be flushed
        return errno == ENOSPC || errno == EDQUOT ? host::kErrorDiskFull : ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

bool SameDirectory(int a, int b) {
    struct stat stA, stB;
    return fstat(a, &stA) == 0 && fstat(b, &stB) == 0 && stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino;
}

}  // namespace

// When only the flush of MOVEFILE_WRITE_THROUGH fails, the file has been renamed.
extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ResolvedPath source, target;
        DWORD error = host::ResolveExistingPath(lpExistingFileName, &source);
        if (error == ERROR_SUCCESS && (source.bIsRoot || S_ISDIR(source.st.st_mode))) error = ERROR_ACCESS_DENIED;
        if (error == ERROR_SUCCESS) error = host::ResolveWindowsPath(lpNewFileName, &target);
        if (error == ERROR_SUCCESS && target.chDrive != source.chDrive) error = ERROR_NOT_SAME_DEVICE;
        if (error == ERROR_SUCCESS && target.bExists) {
            if ((dwFlags & MOVEFILE_REPLACE_EXISTING) == 0)
                error = ERROR_ALREADY_EXISTS;
            else if (target.bIsRoot || S_ISDIR(target.st.st_mode) ||
                     (!S_ISLNK(target.st.st_mode) && (target.st.st_mode & S_IWUSR) == 0))
                error = ERROR_ACCESS_DENIED;
        }
        if (error == ERROR_SUCCESS && renameat(source.AtDir(), source.AtName(), target.AtDir(), target.AtName()) != 0)
            error = errno == EXDEV ? ERROR_NOT_SAME_DEVICE : host::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
        if (error == ERROR_SUCCESS && (dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
            error = FlushDirectory(target.ParentFd());
            if (error == ERROR_SUCCESS && !SameDirectory(source.ParentFd(), target.ParentFd()))
                error = FlushDirectory(source.ParentFd());
        }
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    });
}
