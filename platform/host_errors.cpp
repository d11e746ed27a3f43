// Host errno values as Win32 last-error values.
#include "host_errors.h"

#include <errno.h>

#include <new>
#include <stdexcept>

namespace host {

DWORD ErrorFromErrno(int error, DWORD missing) {
    switch (error) {
    case ENOENT: return missing;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EFBIG: return kErrorFileTooLarge;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EISDIR, ELOOP, ...
    }
}

DWORD ErrorFromCurrentException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::length_error &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return kErrorGenFailure;
    }
}

}  // namespace host
