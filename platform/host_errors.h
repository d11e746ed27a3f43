// Last-error values of host failures (host_errors.cpp).
#pragma once

#include "win32.h"

namespace host {

// Win32 error codes that win32.h does not need to publish.
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorBufferOverflow = 111;
constexpr DWORD kErrorFileTooLarge = 223;

// The last-error value for a failed host call; `missing` is what ENOENT becomes.
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND);

}  // namespace host
