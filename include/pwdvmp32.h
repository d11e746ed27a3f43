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

/* Error codes, as DriveMap_GetError returns them. */
#define DRIVEMAP_OK 0            /* success */
#define DRIVEMAP_BAD_PATH 1      /* path missing, not full, a root where a file is needed, or not added/updated/moved */
#define DRIVEMAP_NOT_FOUND 2     /* map file cannot be opened, or the path names nothing in the map */
#define DRIVEMAP_NO_MEMORY 3     /* out of memory */
#define DRIVEMAP_FILE_DAMAGED 4  /* the map file cannot be read or is damaged */
#define DRIVEMAP_WRITE_FAILED 5  /* writing the map file failed */
#define DRIVEMAP_CREATE_FAILED 6 /* the map file cannot be created */
#define DRIVEMAP_STOPPED 7       /* the drive scan was stopped before it finished */
#define DRIVEMAP_DRIVE_NOT_MAPPED 8 /* the path lies on a kind of drive the map does not cover */
#define DRIVEMAP_OLD_VERSION 9      /* the map file is of a version older than 3 */
#define DRIVEMAP_VOLUME_LOCKED 10   /* the volume that holds the map file is locked */
#define DRIVEMAP_ERROR_COUNT 11

/* Operation modes: which export is running. */
#define MODE_SYNC 0
#define MODE_BUILD 1
#define MODE_READ 2
#define MODE_USAGE 3
#define MODE_FREE 4
#define MODE_DELETE 5
#define MODE_UPDATE 6
#define MODE_QUERY 7

/* EntryRecord flags. */
#define ENTRY_IS_FILE 0x0001    /* a file; clear for a directory */
#define ENTRY_SCANNED 0x0002    /* an executable whose module references were read */
#define ENTRY_EXECUTABLE 0x0004 /* always set together with ENTRY_SCANNED */
#define ENTRY_HAS_REFS 0x0008   /* the reference part is present */
#define ENTRY_SEEN 0x0010       /* met or added during the running synchronisation */
#define ENTRY_PE 0x0020         /* the scanned executable is a 32-bit (PE) one */

/* Walker flags. */
#define WALK_RECURSE 0x01
#define WALK_SET_STOP_AFTER 0x02
#define WALK_DIRS_AS_FILES 0x04
#define WALK_KEEP_CASE 0x10

/* Directory-callback events. */
#define DIR_EVENT_ENTER 0
#define DIR_EVENT_LISTED 1
#define DIR_EVENT_BEFORE_SUBDIRS 2
#define DIR_EVENT_LEAVE 3

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

/* Executable kinds. */
#define EXE_KIND_NONE 0
#define EXE_KIND_NE 1
#define EXE_KIND_PE 2

/* Places DriveMap_SearchForFile looks (low byte of its flags). */
#define FIND_WINDOWS_DIR 0x01
#define FIND_SYSTEM_DIR 0x02
#define FIND_PATH_DIRS 0x04
#define FIND_GIVEN_DIR 0x08

/* The map's records are packed and little-endian, the same in memory and in the map file.
 * Pointer fields are 32 bits wide on every build: they hold addresses of global memory, which the
 * library (and, on a 64-bit host, the host layer) keeps below 4 GiB. On a 64-bit host a pointer a
 * caller stores in such a field (MyFileQuery.pszName) must therefore be global memory too
 * (GlobalAlloc). Read them zero-extended: (void *)(uintptr_t)field. */
typedef DWORD PTR32;

#pragma pack(push, 1)

/* One drive of the map. 9 bytes. */
typedef struct DriveRecord {
    BYTE chLetter;      /* upper case */
    WORD wBlockCount;   /* DirectoryBlocks that belong to the drive */
    WORD wBlocksLoaded; /* blocks taken from the map file so far, while a map is read */
    PTR32 pRootBlock;   /* DirectoryBlock of the root directory, 0 while the drive has none */
} DriveRecord;

/* Header of a directory's block; wEntryCount EntryRecords follow it back to back. 18 bytes. */
typedef struct DirectoryBlock {
    PTR32 pParent; /* block holding this directory's own record; 0 for a root block */
    PTR32 pNext;   /* next block of the block chain; 0 for the last */
    WORD wBlockId;
    WORD wParentId; /* wBlockId of pParent; 0 for a root block */
    DWORD dwUsed;   /* bytes in use, header included */
    WORD wEntryCount;
} DirectoryBlock;

/* One file or directory; variable length. A directory record is name length + 11 bytes; a file
 * record is name length + 19 bytes (the tail: wWriteDate, wWriteTime, wUsedDate, wUsedTime after
 * the name), then, with ENTRY_SCANNED and ENTRY_HAS_REFS, bRefCount and that many lower-case
 * NUL-terminated module names. */
typedef struct EntryRecord {
    WORD wLength; /* the whole record, this field included */
    WORD wFlags;  /* ENTRY_* */
    union {
        PTR32 pChildBlock; /* directory: its own DirectoryBlock, 0 until linked */
        DWORD dwFileSize;  /* file: low 32 bits of its size */
    } u1;
    union {
        WORD wChildId;    /* directory: block id of the child block */
        WORD wUsageCount; /* file: usage count */
    } u2;
    CHAR szName[1]; /* NUL-terminated, as found on disk */
} EntryRecord;

/* Where a record lies: its block and the record (0: the directory of pBlock itself). 8 bytes. */
typedef struct EntryPosition {
    PTR32 pBlock;
    PTR32 pEntry;
} EntryPosition;

/* The reference result block of DriveMap_GetEntryReferences: a count, then that many
 * EntryPositions. Global memory that the caller unlocks and frees. */
typedef struct ReferenceResultBlock {
    WORD wCount;
    EntryPosition aPositions[1];
} ReferenceResultBlock;

/* SearchAllDirForMyFiles: one element per name sought. 16 bytes. */
typedef struct MyFileQuery {
    PTR32 pszName;   /* the file name sought (global memory on a 64-bit host) */
    DWORD dwCaller1; /* the caller's: not read or written by the library */
    DWORD dwCaller2;
    PTR32 pFound; /* head of the MyFileFound list; 0 before the first search */
} MyFileQuery;

/* One directory that holds a record of the name sought. 16 bytes. */
typedef struct MyFileFound {
    PTR32 pszDirectory; /* the directory's path, ending in a backslash */
    DWORD dwUnset1;     /* not written by the library */
    DWORD dwUnset2;
    PTR32 pNextFound;
} MyFileFound;

#pragma pack(pop)

/* Callbacks of the directory walker, the scans and the map walk. The long is the caller's 32-bit
 * value. */
typedef int(WINAPI *FileCallback)(void *context, char *path, FIND_DATA *findData, LONG userValue);
typedef int(WINAPI *DirCallback)(void *context, unsigned int event, char *directory, char *unused, LONG userValue);

/* The exports. The first argument of most of them is a 32-bit value of the caller's. */
DWORD WINAPI DriveMap_GetCritical(void);
DWORD WINAPI DriveMap_GetDirtyFlag(void);
DWORD WINAPI DriveMap_GetError(void);
void WINAPI DriveMap_RegisterAsClient(void);
void WINAPI DriveMap_UnRegisterAsClient(void);
void WINAPI DriveMap_FreeAll(void);

BOOL WINAPI DriveMap_GetEntry(DWORD callerValue, LPCSTR path, EntryPosition *position);
BOOL WINAPI DriveMap_GetFullPath(LPSTR buffer, const EntryPosition *position);

BOOL WINAPI DriveMap_ReadAll(DWORD callerValue);
BOOL WINAPI DriveMap_WriteAll(DWORD callerValue, DWORD lockTest);

BOOL WINAPI DriveMap_BuildAll(void *context, FileCallback fileCallback, DirCallback dirCallback);
BOOL WINAPI DriveMap_SyncAll(void *context, FileCallback fileCallback, DirCallback dirCallback);
int WINAPI BuildCallback(void *context, char *path, FIND_DATA *findData, LONG userValue);
int WINAPI SyncCallback(void *context, char *path, FIND_DATA *findData, LONG userValue);
int WINAPI BuildDirCallback(void *context, unsigned int event, char *directory, char *unused, LONG userValue);
int WINAPI SyncDirCallback(void *context, unsigned int event, char *directory, char *unused, LONG userValue);

/* The caller unlocks and frees *result (GlobalHandle, GlobalUnlock, GlobalFree). */
BOOL WINAPI DriveMap_GetEntryReferences(DWORD callerValue, LPCSTR path, EntryPosition *position,
                                        ReferenceResultBlock **result, DWORD callerValue2);
int WINAPI CompareListEntries(void *a, void *b, DWORD size);
int WINAPI CompareListEntriesHuge(void *a, void *b, DWORD size);

BOOL WINAPI DriveMap_DeleteEntry(DWORD callerValue, LPCSTR path);
BOOL WINAPI DriveMap_UpdateEntry(DWORD callerValue, LPCSTR path);
BOOL WINAPI DriveMap_UpdateSystemIniEntry(void);
BOOL WINAPI DriveMap_IncrementEntryUsageCount(DWORD callerValue, LPCSTR path, DWORD increment);
BOOL WINAPI DriveMap_Move(LPCSTR newPath, LPCSTR oldPath);

BOOL WINAPI DriveMap_SearchForFile(LPSTR result, LPCSTR name, LPCSTR directory, DWORD flags);
void WINAPI DriveMap_SearchDirectory(void *context, LPCSTR directory, LPCSTR pattern, DWORD flags,
                                     FileCallback fileCallback, DirCallback dirCallback, LONG userValue);
/* *list receives a multi-string list in global memory that the caller unlocks and frees. */
BOOL WINAPI DriveMap_GetFilesWithExtension(LPCSTR extension, LPSTR *list);
BOOL WINAPI SearchAllDirForMyFiles(MyFileQuery *queries, LONG count);
void WINAPI Delete_Allocated_Memory(MyFileQuery *queries, LONG count);

#ifdef __cplusplus
}

static_assert(sizeof(FIND_DATA) == 336, "FIND_DATA is 336 bytes");
static_assert(offsetof(FIND_DATA, cFileName) == 44, "cFileName");
static_assert(offsetof(FIND_DATA, cAlternateFileName) == 304, "cAlternateFileName");
static_assert(offsetof(FIND_DATA, dwReserved2) == 320, "dwReserved2");
static_assert(offsetof(FIND_DATA, wLastWriteDate) == 324, "wLastWriteDate");
static_assert(offsetof(FIND_DATA, wLastAccessTime) == 330, "wLastAccessTime");
static_assert(offsetof(FIND_DATA, dwSearchAttributes) == 332, "dwSearchAttributes");
static_assert(sizeof(DriveRecord) == 9, "DriveRecord is 9 bytes");
static_assert(offsetof(DriveRecord, pRootBlock) == 5, "pRootBlock");
static_assert(sizeof(DirectoryBlock) == 18, "DirectoryBlock header is 18 bytes");
static_assert(offsetof(DirectoryBlock, wBlockId) == 8 && offsetof(DirectoryBlock, wParentId) == 10 &&
                  offsetof(DirectoryBlock, dwUsed) == 12 && offsetof(DirectoryBlock, wEntryCount) == 16,
              "DirectoryBlock fields");
static_assert(offsetof(EntryRecord, u1) == 4 && offsetof(EntryRecord, u2) == 8 && offsetof(EntryRecord, szName) == 10,
              "EntryRecord fields");
static_assert(sizeof(EntryPosition) == 8, "EntryPosition is 8 bytes");
static_assert(offsetof(ReferenceResultBlock, aPositions) == 2, "pairs follow the count");
static_assert(sizeof(MyFileQuery) == 16 && offsetof(MyFileQuery, pFound) == 12, "MyFileQuery");
static_assert(sizeof(MyFileFound) == 16 && offsetof(MyFileFound, pNextFound) == 12, "MyFileFound");
#else
_Static_assert(sizeof(FIND_DATA) == 336, "FIND_DATA is 336 bytes");
_Static_assert(sizeof(DriveRecord) == 9, "DriveRecord is 9 bytes");
_Static_assert(sizeof(DirectoryBlock) == 18, "DirectoryBlock header is 18 bytes");
_Static_assert(sizeof(EntryPosition) == 8, "EntryPosition is 8 bytes");
_Static_assert(sizeof(MyFileQuery) == 16, "MyFileQuery is 16 bytes");
#endif

#endif /* PWDVMP32_H */
