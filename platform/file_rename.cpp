// MoveFileExA over rename(2): files only, within one drive, replacing an existing file only when
// asked and never a read-only one or a directory, as on Windows. Attributes travel with the file.
#include "file_system_lock.h"
#include "host_errors.h"
#include "path_resolution.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
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
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
