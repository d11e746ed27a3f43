// The module's state: every global of the library, one drive map per process. This is the only
// place a global is declared; each is defined in module_state.cpp and starts at zero (or at the
// value given there) when the library is loaded. The library runs on its caller's thread only, so
// none of them has a lock.
//
// For each: the module that owns it (the only one that writes it, unless said otherwise), and
// when it is reset. "Map release" means ReleaseMap (map_release.h), which frees the map and resets
// the map's working state, part of it through the release functions that the owning modules
// register there.
//
// This header includes nothing of the library but the public records and the path size, so that
// every module may read the table without depending on another module.
#pragma once

#include "pwdvmp32.h"
#include "support/limits.h"

// ---- Lifetime and the frame of the exports (store: module_state, export_frame) -------------------
extern DWORD gCriticalFlag;        // 1 while an export works on the map. Set and restored by export frames
                                   // and ReleaseMap; survives a map release
extern DWORD gErrorCode;           // DRIVEMAP_* code of the last export that stores one; survives a release
extern DWORD gDirtyFlag;           // the map differs from the map file. Set by every change (store, scan,
                                   // mapfile); cleared by a successful save and by the map release
extern DWORD gClientCount;         // registered clients (state_exports); survives a release
extern DWORD gLoadedFlag;          // a map is in memory: set by a whole read or build; cleared by the release
extern DWORD gOperationMode;       // MODE_* of the export running, set at its start and never reset after
extern DWORD gExportDepth;         // export frames open on the caller's thread (export_frame); back to 0
                                   // when the outermost export returns
extern HINSTANCE gModuleInstance;  // set when the library is loaded (exports/dll_main)
extern CHAR gWindowsDirectory[PATH_BUFFER_SIZE];  // captured at load; empty when it did not fit
extern CHAR gSystemDirectory[PATH_BUFFER_SIZE];   // captured at load; empty when it did not fit

// ---- The map (store: drive_table, directory_blocks; zeroed by the map release) ----------------
#define DRIVE_TABLE_SIZE 26  // drive records: one per letter A to Z

// The drive table: 26 records followed by the count in use. Records are appended and never
// reordered; a load cuts the count back to the drives it could read.
#pragma pack(push, 1)
struct DriveTable {
    DriveRecord records[DRIVE_TABLE_SIZE];
    DWORD dwCount;
};
#pragma pack(pop)
static_assert(sizeof(DriveTable) == 238, "drive table is 26 records and a count");

extern DriveTable gDriveTable;
extern DWORD gNextBlockId;          // next block id to hand out; its low 16 bits are saved in the file
extern DriveRecord *gCurrentDrive;  // the drive whose blocks are made, counted and freed: set by the
                                    // operation that works on a drive (ResolvePath, the scans, the
                                    // load, the save), restored by CurrentDriveScope where it is changed
                                    // only for a while
extern DirectoryBlock *gLastBlock;  // tail of the block chain (its head is the first drive's root)
extern DWORD gShrinkPending;        // a block may hold spare space to cut back to dwUsed (ShrinkBlock)

// What the chain operations remember so that adding n directories does not cost n walks of the
// chain (directory_blocks). Forgotten (the flags cleared) by the map release, when blocks come and
// go wholesale.
extern WORD gBlockIdUse[0x10000];         // blocks on the chain carrying each id, once counted
extern BOOL gBlockIdUseCounted;           // gBlockIdUse is up to date
extern DirectoryBlock *gBeforeLastBlock;  // the block whose pNext is gLastBlock, once known
extern BOOL gBeforeLastKnown;             // gBeforeLastBlock is up to date

// The buffer (10,240 bytes, locked global memory) that receives an executable's module names while
// its record is made (store: reference_buffer). Allocated on first need, freed by the map release.
extern LPSTR gReferenceBuffer;

// Functions that other modules register to reset their part of the map's working state when the
// map is released (store: map_release). Filled once, when the library is loaded; never reset.
#define MAP_RELEASE_MAX_FUNCTIONS 8
typedef void (*MapReleaseFunction)(void);
extern MapReleaseFunction gMapReleaseFunctions[MAP_RELEASE_MAX_FUNCTIONS];
extern DWORD gMapReleaseFunctionCount;

// ---- The map file (mapfile) ---------------------------------------------------------------------
extern HFILE gMapFile;  // open only during a read or a save (the temporary file's, then); HFILE_ERROR
                        // otherwise; closed by the map release
// While a read attaches one drive's blocks: the first block of that drive carrying each id, so that
// a block finds its parent in one step. Cleared when each drive's root arrives.
extern PTR32 gFirstBlockWithId[0x10000];

// ---- Drives (scan: drive_class) -------------------------------------------------------------------
extern DWORD gPlatform;       // PLATFORM_*, worked out from GetVersion on first use
extern BOOL gPlatformKnown;   // gPlatform is set; never reset in a process (tests reset it)
extern HANDLE gVwin32Device;  // the VWIN32 device, opened on the first DOS call and kept open;
                              // 0 before, INVALID_HANDLE_VALUE when it could not be opened

// ---- The directory walker (scan: directory_walker; also the map walk of DriveMap_SearchDirectory,
// maintenance: search_directory), one walk of either kind at a time --------------------------------
struct WalkState {
    void *context;  // handed unchanged to every callback
    LONG userValue;
    DWORD flags;       // WALK_*
    DWORD searchMask;  // SEARCH_* of every listing
    CHAR pattern[PATH_BUFFER_SIZE];
    BOOL allFilesPattern;  // the pattern is "*.*"
    FileCallback fileCallback;
    DirCallback dirCallback;
    CHAR currentPath[PATH_BUFFER_SIZE];  // the directory being walked
    CHAR fullName[PATH_BUFFER_SIZE];     // an entry's full path, for the file callback
    LPSTR nameBuffer;                    // subdirectory names of every level, a stack; none without
    DWORD cbNameBuffer;
    BOOL fOutOfMemory;  // a listing failed for want of memory: the walk was stopped
};
extern WalkState gWalk;  // set up by each walk; the name buffer lives only while the walk runs

// ---- Building and synchronising (scan: scan_state, sync_map); reset by each scan and by the
// release ----------------------------------------------------------------------------------------
extern DirectoryBlock *gScanBlock;  // the current block; records go to its end (block + dwUsed)
extern DWORD gScanBlockSize;        // bytes allocated for gScanBlock
extern FileCallback gClientFileCallback;
extern DirCallback gClientDirCallback;
extern DWORD gScanOverLimit;  // the scan stopped at a limit of the map file's format
// Where the synchroniser's next search by name starts: a record of gScanBlock, as its byte offset
// (the block may move when records are added) and its index.
struct MatchCursor {
    DWORD dwOffset;
    DWORD dwIndex;
};
extern MatchCursor gMatchCursor;
// The directories a scan entered, from the drive's root down to the one entered last, with their
// blocks (store: path_lookup), so that a directory entered next finds its parent's block without a
// walk from the root. Level i (1 to cLevels) is the path szPath up to ends[i], whose block is
// blocks[i]; level 0 is the root ("X:", ends[0] = 2). Cut back when a block on it is freed, its
// blocks followed when they move (directory_blocks); emptied by each scan and by the release.
#define DIRECTORY_TRAIL_LEVELS (PATH_BUFFER_SIZE / 2)  // a 299-character path has fewer components
struct DirectoryTrail {
    DriveRecord *pDrive;  // the drive the levels lie on
    DWORD cLevels;
    WORD ends[DIRECTORY_TRAIL_LEVELS + 1];
    DirectoryBlock *blocks[DIRECTORY_TRAIL_LEVELS + 1];
    CHAR szPath[PATH_BUFFER_SIZE];
};
extern DirectoryTrail gDirectoryTrail;

// ---- Executable references (references) -----------------------------------------------------------
// The two buffers every import scan reuses (import_scanner): absent until the first scan, freed by
// FreeScanBuffers at the end of each scan of the disks.
extern LPSTR gScanNameBuffer;
extern BYTE *gScanHeaderBuffer;

// A list read from the settings data file and the 32-bit addresses of its entries, in the order the
// lookups search them.
struct LookupList {
    LPSTR pList;      // the multi-string list; none while not loaded
    DWORD *pEntries;  // entry addresses; none when there are no entries
    LONG cEntries;
};
extern LookupList gNeverScanned;  // loaded when the library is loaded, freed when it is unloaded
// IsNeverScannedFile's answers by extension (as searched: lower case, at most 15 characters), so
// that the files of one extension cost one search of the list (references: never_scanned_list).
// Emptied when the list is loaded or freed, and when it is not the list the answers came from.
#define EXTENSION_MEMO_SLOTS 64
#define EXTENSION_MEMO_CHARS 15
struct ExtensionMemoSlot {
    CHAR szExtension[EXTENSION_MEMO_CHARS + 1];  // empty: the slot is free
    BOOL fNeverScanned;
};
struct ExtensionMemo {
    const DWORD *pEntries;  // the list the answers came from
    LONG cEntries;
    ExtensionMemoSlot slots[EXTENSION_MEMO_SLOTS];
};
extern ExtensionMemo gExtensionMemo;
extern LookupList gSystemFiles;  // loaded on first need, freed when the library is unloaded

// The import scanner's rules beyond the classic ones, from section "Scanning" of the settings data
// file (references: scanning_rules): all off, the classic rules, until the section is read with the
// never-scanned list when the library is loaded; back to off when it is unloaded.
struct ScanRules {
    BOOL fPe32Plus;           // PE32+ (64-bit) files are read by their own optional header
    BOOL fImportsAnySection;  // the import directory is followed into whatever section holds it
    BOOL fDelayLoadImports;   // the delay-load import descriptors are read as well
    DWORD dwSubsystems;       // bit n set: subsystem n is scanned although the classic rules refuse it
};
extern ScanRules gScanRules;

// ---- The queries (references: entry_references; maintenance: files_with_extension); valid during
// one query, zeroed by the map release ------------------------------------------------------------
// The reference query of DriveMap_GetEntryReferences.
struct ReferenceQueryState {
    CHAR szFileName[PATH_BUFFER_SIZE];  // the queried file's last path component
    CHAR szBaseName[PATH_BUFFER_SIZE];  // the same without its extension: what references name
    DirectoryBlock *pOwnBlock;          // the block that holds the queried file's record
    BOOL fMapWide;                      // every drive is searched, not only pOwnBlock
    BOOL fFirstCopy;                    // the queried file is the copy a search by name finds first
    ReferenceResultBlock *pResult;      // the block being filled; none once it is handed over
    DWORD cCapacity;                    // pairs pResult holds
};
extern ReferenceQueryState gReferenceQuery;

// The extension search of DriveMap_GetFilesWithExtension.
struct ExtensionSearchState {
    CHAR szExtension[PATH_BUFFER_SIZE];      // the extension asked for, without its dot
    CHAR szFileExtension[PATH_BUFFER_SIZE];  // the extension of the record being compared
    CHAR szCurrentPath[PATH_BUFFER_SIZE];    // the directory being searched
    LPSTR pList;                             // the list being written (locked global memory); none
                                             // once it is handed over
    DWORD cbList;                            // its size in bytes
    DWORD dwWrite;                           // offset of the next path in pList
    BOOL fOutOfMemory;                       // pList could not grow: the search ends with no list
};
extern ExtensionSearchState gExtensionSearch;

// ---- Support ----------------------------------------------------------------------------------------
extern DWORD gStopFlag;  // 1 means stop: 1 at load; cleared when a walk starts, set when a callback
                         // asks to stop (support: message_pump)

// Sets the critical flag and returns its previous value.
DWORD SetCritical(DWORD value);
