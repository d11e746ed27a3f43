/* PWDVMP32: the drive map library's public interface. */
#ifndef PWDVMP32_H
#define PWDVMP32_H

#include "win32.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* FIND_DATA: the platform's find record, extended with the DOS stamps of the last write and last
 * access (local time) and the attribute mask the search was opened with. Handed to file callbacks,
 * so its layout is fixed: natural alignment, 336 bytes. */
typedef struct FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
    DWORD dwReserved2; /* never set, never read */
    WORD wLastWriteDate;
    WORD wLastWriteTime;
    WORD wLastAccessDate;
    WORD wLastAccessTime;
    DWORD dwSearchAttributes;
} FIND_DATA;

/* Search mask bit: names are returned exactly as the file system reports them. */
#define SEARCH_KEEP_CASE 0x8000

/* Drive classes. */
#define DRIVE_CLASS_NONE 0
#define DRIVE_CLASS_REMOVABLE 1
#define DRIVE_CLASS_FIXED 2
#define DRIVE_CLASS_REMOTE 3
#define DRIVE_CLASS_CDROM 4
#define DRIVE_CLASS_RAMDISK 5
#define DRIVE_CLASS_SUBST 6

/* Platforms. */
#define PLATFORM_WIN32S 1
#define PLATFORM_WIN95 2
#define PLATFORM_NT 3

#ifdef __cplusplus
}

static_assert(sizeof(FIND_DATA) == 336, "FIND_DATA is 336 bytes");
static_assert(offsetof(FIND_DATA, cFileName) == 44, "cFileName");
static_assert(offsetof(FIND_DATA, cAlternateFileName) == 304, "cAlternateFileName");
static_assert(offsetof(FIND_DATA, dwReserved2) == 320, "dwReserved2");
static_assert(offsetof(FIND_DATA, wLastWriteDate) == 324, "wLastWriteDate");
static_assert(offsetof(FIND_DATA, wLastAccessTime) == 330, "wLastAccessTime");
static_assert(offsetof(FIND_DATA, dwSearchAttributes) == 332, "dwSearchAttributes");
#else
_Static_assert(sizeof(FIND_DATA) == 336, "FIND_DATA is 336 bytes");
#endif

#endif /* PWDVMP32_H */
