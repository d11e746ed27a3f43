/* The emulated Windows machine of the POSIX host layer (libwin32host).
 *
 * Programs and tests describe the machine with these calls, and with the ordinary Win32 setters
 * (SetEnvironmentVariableA, SetCurrentDirectoryA), before they load the library. Not available on
 * Windows, where the machine is the real one. */
#ifndef PWDVMP32_HOST_MACHINE_H
#define PWDVMP32_HOST_MACHINE_H

#include "win32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* No drives, platform NT, Windows directory C:\WINDOWS, System directory C:\WINDOWS\SYSTEM32, no
 * PATH (an empty environment), no module file name, real clock, no locks, no allocation limit, no
 * forced moves, VWIN32 absent, no windows or queued messages, no current directories, no listing
 * observer or hook. Global memory already handed out stays valid. */
void HostMachine_Reset(void);

/* The letter becomes a drive of GetDriveTypeA type `type` whose root is the host directory
 * `hostDir` (NULL: a drive without a medium). The drive's file system is the one hostDir lies on;
 * directories on other file systems below it are not listed. Returns 1, or 0 for a bad letter, a
 * bad type or a hostDir that is not a directory. `type` may have HOST_DRIVE_DOS_ATTRIBUTES ORed
 * in. */
int HostMachine_MapDrive(char letter, unsigned type, const char *hostDir);

/* The drive keeps DOS attributes the way Samba and Wine do, in the user.DOSATTRIB extended
 * attribute: its hidden bit is read for files and directories (never for links, FIFOs, sockets or
 * devices) and SetFileAttributesA and _lcreat store it. Without it a drive's hidden entries are
 * those whose names begin with a dot, and nothing is read or written in extended attributes (a
 * host's own disks: reading them for every entry costs a system call each). */
#define HOST_DRIVE_DOS_ATTRIBUTES 0x100

/* The letter stands for `target`, a full path on another drive (e.g. "C:\\DATA"). GetDriveTypeA
 * says DRIVE_FIXED, the DOS layer reports bit 15 of the device attribute word, and paths on the
 * letter are rewritten to the target by GetFullPathNameA and resolved through it. 1 or 0. */
int HostMachine_SubstDrive(char letter, const char *target);

/* The value GetVersion returns: NT 4.0 0x05650004, Windows 95 0xC3B60004, Win32s 0x80000003. */
void HostMachine_SetVersion(unsigned long version);

void HostMachine_SetWindowsDirectory(const char *path);
void HostMachine_SetSystemDirectory(const char *path);

/* What GetModuleFileNameA(NULL, ...) returns: the running program's full Windows path. */
void HostMachine_SetModuleFileName(const char *path);

/* The lock level the DOS layer reports for the drive (0xFFFF: not locked, the default). */
void HostMachine_SetDriveLocked(char letter, unsigned level);

/* Whether CreateFileA("\\\\.\\VWIN32") succeeds; only a Windows 95 machine has the device. */
void HostMachine_SetVwin32(int present);

/* GetLocalTime returns *time from now on; NULL returns to the real clock. */
void HostMachine_FreezeLocalTime(const SYSTEMTIME *time);

/* A window whose posted messages DispatchMessageA hands to `proc`. */
HWND HostMachine_CreateWindow(WNDPROC proc);

/* GlobalAlloc/GlobalReAlloc of more than maxBytes fail (0: no limit). */
void HostMachine_LimitAllocations(unsigned long maxBytes);

/* With `on` set, every successful GlobalReAlloc of a moveable block moves it to a new address, so
 * that callers' relinking after a move can be tested. */
void HostMachine_MoveEveryReallocation(int on);

/* Number of global-memory blocks currently allocated (for leak checks in tests). */
unsigned long HostMachine_GlobalBlockCount(void);

/* The host directory a Windows path resolves to, written into `hostPath` (NUL-terminated, at most
 * `size` bytes): components matched exactly, then case-insensitively, short names and the names
 * generated for names Windows cannot hold recognised, substituted drives followed. The last
 * component need not exist. Returns 1, or 0 when the path cannot be resolved or does not fit. */
int HostMachine_ResolvePath(const char *windowsPath, char *hostPath, unsigned long size);

/* What the host layer's directory listings show differently from the host, or leave out, and
 * what the library will pass over in them. Reported to the observer for listings with wildcards
 * (FindFirstFileA of "dir\\*.*", which is how the library's walker lists a directory), for the
 * whole directory whatever the pattern, and once per host directory (by device and inode) for as
 * long as the observer is set, however often it is listed. An entry gets at most one of the reasons
 * 2-8, and HOST_LISTING_GENERATED_NAME besides. Reports come in host-name order. */

/* A name Windows cannot hold (\ / : * ? " < > |, a control character, a trailing dot or space),
 * shown under a generated name; shownAs "" when no generated name was free and it is left out. */
#define HOST_LISTING_GENERATED_NAME 1
/* Left out: another entry differs from it only in case (the first in byte order is shown). */
#define HOST_LISTING_CASE_TWIN 2
/* Left out: a name of more than 259 bytes. */
#define HOST_LISTING_NAME_TOO_LONG 3
/* Left out: a directory on another file system than its drive's root. */
#define HOST_LISTING_OTHER_FS 4
/* The listed directory exists but cannot be read: it is listed as empty (hostName ""). */
#define HOST_LISTING_UNREADABLE 5
/* A directory whose name begins with a dot: the library neither records nor enters it. */
#define HOST_LISTING_DOT_DIRECTORY 6
/* An entry whose full Windows path passes 299 characters: the listed directory's path, a
 * backslash and the shown name, plus 4 for a directory (the "\\*.*" that lists it), is 300 or
 * more. The library passes over it. */
#define HOST_LISTING_PATH_TOO_LONG 7
/* A file of 4 GiB or more: its size does not fit the 32 bits the map keeps. */
#define HOST_LISTING_FILE_4GIB 8

/* `directory` is the Windows path of the listed directory as the listing named it (normalised),
 * `hostName` the entry's name on the host, `shownAs` the name Windows programs see (the generated
 * name for HOST_LISTING_GENERATED_NAME; hostName otherwise). It runs inside FindFirstFileA. */
typedef void (*HOST_LISTING_OBSERVER)(void *context, unsigned reason, const char *directory, const char *hostName,
                                      const char *shownAs);

/* Sets the observer (NULL: none, the default) and forgets which directories were reported. */
void HostMachine_ObserveListings(HOST_LISTING_OBSERVER observer, void *context);

/* For tests: `hook` runs each time a wildcard listing has looked its directory up and is about to
 * open and read it, with the directory's host path, so that a test can change the tree in that
 * window (swap the directory for a link, say). NULL removes it; HostMachine_Reset too. */
typedef void (*HOST_LISTING_HOOK)(void *context, const char *hostDirectory);
void HostMachine_SetListingHook(HOST_LISTING_HOOK hook, void *context);

/* Lets a second thread read the subdirectories of each wildcard listing before a walk asks for
 * them, for a client that walks trees while nothing it waits for changes the disks (drivemap's
 * build and sync). A listing read ahead is the one the walk would get, taken a moment earlier; a
 * directory whose entries changed meanwhile is listed again, and what was read ahead is dropped at
 * every change of the current directory (a walk's start and end), at a listing out of the walk's
 * order and with a listing hook. Off by default and after HostMachine_Reset;
 * PWDVMP32_READ_AHEAD=0 in the environment keeps it off. `mode` is one of: */
#define HOST_READ_AHEAD_OFF 0
#define HOST_READ_AHEAD_ALL 1
/* Every subdirectory but those whose name, as Windows programs see it, begins with a dot: the
 * library's walks pass over them, and reading their trees ahead would only hold the worker up. */
#define HOST_READ_AHEAD_NOT_DOT_DIRECTORIES 2
void HostMachine_ReadAheadListings(int mode);

#ifdef __cplusplus
}
#endif

#endif /* PWDVMP32_HOST_MACHINE_H */
