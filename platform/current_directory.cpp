// GetCurrentDirectoryA and SetCurrentDirectoryA: the current drive and each drive's current
// directory, kept by the drive table, checked against the disk here.
#include "drives.h"
#include "file_system_lock.h"
#include "host_errors.h"
#include "listing_read_ahead.h"
#include "path_resolution.h"

namespace {

bool IsDriveSpec(const char *path) {
    char c = path[0];
    return ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && path[1] == ':';
}

// An existing directory of a drive with a medium.
bool IsDirectory(const std::string &path) {
    host::ResolvedPath resolved;
    return host::ResolveWindowsPath(path.c_str(), &resolved) == ERROR_SUCCESS && resolved.bExists &&
           S_ISDIR(resolved.st.st_mode);
}

}  // namespace

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return host::Guarded<DWORD>(0, [&]() -> DWORD {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        return host::ReturnString(host::CurrentDirectoryOf(host::CurrentDrive()), nBufferLength, lpBuffer);
    });
}

// "X:" alone makes drive X current at its remembered directory (its root when that directory is
// gone). Any other path must name an existing directory; it is remembered as spelled (normalised,
// drive letter upper case) and its drive becomes current.
// A walk makes its start directory current and restores the current directory at its end: what
// was read ahead for one walk is never handed to another.
extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
        host::ForgetListingsReadAhead();
        if (lpPathName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (IsDriveSpec(lpPathName) && lpPathName[2] == '\0') {
            host::DriveInfo drive;
            if (!host::LookupDrive(lpPathName[0], &drive)) {
                SetLastError(ERROR_INVALID_DRIVE);
                return FALSE;
            }
            if (!drive.bHasMedium) {
                SetLastError(ERROR_NOT_READY);
                return FALSE;
            }
            std::string remembered = host::CurrentDirectoryOf(drive.chLetter);
            if (remembered.size() > 3 && !IsDirectory(remembered)) host::SetCurrentDirectoryOf(drive.chLetter, "");
            host::SelectCurrentDrive(drive.chLetter);
            return TRUE;
        }

        std::string text;
        DWORD error = host::NormalizeWindowsPath(lpPathName, /*followSubst=*/false, /*trimLast=*/true, &text);
        if (error == ERROR_SUCCESS && !IsDriveSpec(text.c_str())) error = ERROR_PATH_NOT_FOUND;
        host::ResolvedPath resolved;
        if (error == ERROR_SUCCESS) error = host::ResolveWindowsPath(text.c_str(), &resolved);
        if (error == ERROR_SUCCESS && !resolved.bExists) error = ERROR_PATH_NOT_FOUND;
        if (error == ERROR_SUCCESS && !S_ISDIR(resolved.st.st_mode)) error = ERROR_DIRECTORY;
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        host::SetCurrentDirectoryOf(text[0], text);
        host::SelectCurrentDrive(text[0]);
        return TRUE;
    });
}
