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

constexpr DWORD kErrorGenFailure = 31;

// The last-error value for a failed host call; `missing` is what ENOENT becomes.
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND);

// The last-error value for the exception being handled: ERROR_NOT_ENOUGH_MEMORY when memory ran
// out (std::bad_alloc, std::length_error), ERROR_GEN_FAILURE for anything else.
DWORD ErrorFromCurrentException() noexcept;

// Runs the body of a C entry point: an exception it throws never crosses the C interface, but
// becomes the call's Win32 failure, `failure` with the last-error value set.
template <typename Result, typename Body>
Result Guarded(Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        SetLastError(ErrorFromCurrentException());
        return failure;
    }
}

// The same for an entry point without a result.
template <typename Body>
void Guarded(Body &&body) noexcept {
    try {
        body();
    } catch (...) {
        SetLastError(ErrorFromCurrentException());
    }
}

}  // namespace host
