// GetTempFileNameA: "<prefix><hex>.TMP" names in a directory, and with uUnique 0 a new, empty file
// of such a name that no other caller, in this process or another, can have been given.
#include "directory_listing.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "path_resolution.h"
#include "short_names.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

UINT Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The name for number `unique`: the prefix, the low 16 bits in upper-case hex, ".TMP".
std::string TempName(const std::string &prefix, UINT unique) {
    char text[16];
    snprintf(text, sizeof text, "%X.TMP", unique & 0xFFFF);
    return prefix + text;
}

// Where the numbers start: different in processes started together, and from one call to the next.
UINT FirstNumber() {
    static UINT counter = 0;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    UINT mixed = static_cast<UINT>(now.tv_nsec / 1000) ^ (static_cast<UINT>(getpid()) * 40503u) ^ (++counter * 7919u);
    return mixed % 0xFFFF + 1;
}

}  // namespace

// lpTempFileName receives lpPathName, a backslash unless it ends with one (or is a bare "X:"), and
// the name; it must hold MAX_PATH characters, and lpPathName at most MAX_PATH - 14. uUnique 0
// tries the numbers 1-FFFF from a varying start, skipping any a name in the directory stands for
// (ignoring case, short and generated names included), and creates the file exclusively; it
// returns the number. Any other uUnique only forms the name and returns uUnique.
extern "C" UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
    return host::Guarded<UINT>(0, [&]() -> UINT {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        if (lpPathName == nullptr || lpTempFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        const size_t cchPath = strlen(lpPathName);
        if (cchPath > MAX_PATH - 14) return Fail(host::kErrorBufferOverflow);
        const std::string prefix(lpPrefixString != nullptr ? lpPrefixString : "",
                                 lpPrefixString != nullptr ? strnlen(lpPrefixString, 3) : 0);
        if (host::HasInvalidNameCharacters(prefix)) return Fail(ERROR_INVALID_NAME);
        std::string base(lpPathName);
        const bool bareDrive = cchPath == 2 && base[1] == ':';
        if (!base.empty() && base.back() != '\\' && base.back() != '/' && !bareDrive) base += '\\';

        auto give = [&](const std::string &full, UINT result) {
            memcpy(lpTempFileName, full.c_str(), full.size() + 1);
            return result;
        };
        if (uUnique != 0) return give(base + TempName(prefix, uUnique), uUnique);

        host::ResolvedPath dir;
        host::SharedFd dirFd;
        DWORD error = host::ResolveDirectory(cchPath == 0 ? "." : lpPathName, &dir, &dirFd);
        if (error != ERROR_SUCCESS) return Fail(error == ERROR_PATH_NOT_FOUND ? ERROR_DIRECTORY : error);

        const UINT first = FirstNumber();
        for (UINT i = 0; i < 0xFFFF; ++i) {
            const UINT number = (first - 1 + i) % 0xFFFF + 1;
            const std::string name = TempName(prefix, number);
            const std::string full = base + name;  // before the file exists: nothing can fail after it does
            host::ListedEntry taken;
            if (host::FindComponent(dirFd->Get(), dir.driveDev, name, /*wantShortName=*/false, &taken)) continue;
            int fd = openat(dirFd->Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                close(fd);
                return give(full, number);
            }
            if (errno != EEXIST) return Fail(host::ErrorFromErrno(errno, ERROR_DIRECTORY));
        }
        return Fail(ERROR_FILE_EXISTS);
    });
}
