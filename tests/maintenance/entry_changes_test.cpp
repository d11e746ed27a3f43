// Telling the map of changes: deletes, updates, uses and moves on maps built from real trees, each
// ending with a map that keeps the store's invariants, saves and loads back equal, and (where the
// disk was changed to match) equals a fresh build but for the usage fields.
#include "common/exe_builder.h"
#include "common/map_dump.h"
#include "maintenance/entry_changes.h"
#include "references/import_scanner.h"
#include "scan/scan_fixture.h"
#include "store/reference_buffer.h"

#include <set>
#include <string>
#include <vector>

namespace {

class Changes : public ScanTest {
protected:
    // C:\AUTOEXEC.BAT, C:\a.txt, C:\Gone.txt, C:\Bin\App.exe (imports foo and bar),
    // C:\Old\y.txt, C:\Old\Sub\x.txt, C:\Dir\Sub\z.txt, and 700 files in C:\Docs, whose block of
    // 34 KB is the one large block.
    void BuildSampleMap() {
        ASSERT_TRUE(disk_.AddFile("AUTOEXEC.BAT", "@echo off"));
        ASSERT_TRUE(disk_.AddFile("a.txt", "a"));
        ASSERT_TRUE(disk_.AddFile("Gone.txt"));
        ASSERT_TRUE(disk_.AddFile("Bin/App.exe", BuildPeFile({.imports = {"FOO.DLL", "bar.dll"}})));
        ASSERT_TRUE(disk_.AddFile("Old/y.txt"));
        ASSERT_TRUE(disk_.AddFile("Old/Sub/x.txt", "x"));
        ASSERT_TRUE(disk_.AddFile("Dir/Sub/z.txt", "zz"));
        for (int i = 0; i < 700; ++i)
            ASSERT_TRUE(disk_.AddFile("Docs/document-number-" + std::to_string(10000 + i) + ".doc"));
        ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
        ASSERT_GT(GetBlockUsed(GetChildBlock(Find("C:\\Docs"))), kNoGrowth);
    }
    static WORD BlocksOfC() { return GetDriveBlockCount(&gDriveTable.records[0]); }
    static std::string Bytes(const EntryRecord *e) {
        return std::string(reinterpret_cast<const char *>(e), GetEntryLength(e));
    }
    // A drive record without blocks (a drive that a change named but nothing went into) is not
    // saved: the map file holds only drives with blocks.
    static void ExpectSavesAndLoadsBack() {
        ASSERT_TRUE(CheckMapInvariants());
        std::vector<std::string> changed = DumpMap();
        std::erase_if(changed, [](const std::string &line) { return line.ends_with(" root=no"); });
        ASSERT_TRUE(DriveMap_WriteAll(0, 0));
        ResetTestMap();
        ASSERT_TRUE(DriveMap_ReadAll(0));
        EXPECT_EQ(changed, DumpMap());
    }
    static void ExpectTheMapOfAFreshBuild() {
        const std::vector<std::string> changed = Sorted(DumpMap(false));
        ResetTestMap();
        ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
        EXPECT_EQ(changed, Sorted(DumpMap(false)));
    }
    void Rename(const std::string &from, const std::string &to) {
        ASSERT_EQ(0, std::rename(disk_.Path(from).c_str(), disk_.Path(to).c_str())) << from;
    }
    // Both scan buffers fit, but the Docs block cannot grow.
    static constexpr unsigned long kNoGrowth = 0x6000;
};

TEST_F(Changes, DeleteUpdateUseAndMoveEndWithTheMapOfAFreshBuild) {
    BuildSampleMap();
    HostMachine_MoveEveryReallocation(1);  // every growth moves its block: the links must follow
    const WORD blocks = BlocksOfC();

    ASSERT_EQ(0, std::system(("rm -r " + disk_.Path("Old")).c_str()));
    EXPECT_TRUE(DriveMap_DeleteEntry(0, "C:\\OLD"));
    EXPECT_EQ(blocks - 2, BlocksOfC()) << "a directory goes with its subtree";

    // An executable rewritten is brought up to date where it stands, one more use counted, but not
    // read for references again: a sync does that.
    const EntryRecord *app = Find("C:\\Bin\\App.exe");
    const std::string references(reinterpret_cast<const char *>(GetReferencePart(app)), 1 + 8);
    ASSERT_TRUE(disk_.AddFile("Bin/App.exe", BuildPeFile({.imports = {"foo.dll", "baz.dll", "qux.dll"}})));
    EXPECT_TRUE(DriveMap_UpdateEntry(0, "c:\\bin\\app.exe"));
    EXPECT_EQ(app, Find("C:\\Bin\\App.exe"));
    EXPECT_EQ(2, GetUsageCount(app));
    EXPECT_EQ(references, std::string(reinterpret_cast<const char *>(GetReferencePart(app)), 1 + 8));
    // Rewritten larger with its old imports, the update leaves what a fresh build records.
    ASSERT_TRUE(disk_.AddFile("Bin/App.exe", BuildPeFile({.sections = {".text", ".data", ".idata"},
                                                          .importSection = 2,
                                                          .imports = {"FOO.DLL", "bar.dll"}})));
    EXPECT_TRUE(DriveMap_UpdateEntry(0, "c:\\bin\\app.exe"));
    EXPECT_EQ(GetEntryFileSize(app), disk_.ReadFile("Bin/App.exe").size());

    ASSERT_EQ(0, std::remove(disk_.Path("Gone.txt").c_str()));
    EXPECT_TRUE(DriveMap_UpdateEntry(0, "C:\\Gone.txt"));
    EXPECT_EQ(nullptr, Find("C:\\Gone.txt"));

    // A new executable far below: its directories are made, its references read, its short name
    // capitalised.
    ASSERT_TRUE(disk_.AddFile("New/Deeper/tool.exe", BuildPeFile({.imports = {"tool32.dll"}})));
    EXPECT_TRUE(DriveMap_UpdateEntry(0, "C:\\New\\Deeper\\TOOL.EXE"));
    ASSERT_NE(nullptr, Find("C:\\New\\Deeper\\tool.exe"));
    EXPECT_STREQ("Tool.exe", GetEntryName(Find("C:\\New\\Deeper\\tool.exe")));

    // A file to another directory, and a directory with its subtree into directories the map does
    // not hold yet.
    Rename("Docs/document-number-10001.doc", "Bin/document-number-10001.doc");
    EXPECT_TRUE(DriveMap_Move("C:\\Bin\\document-number-10001.doc", "C:\\Docs\\document-number-10001.doc"));
    ASSERT_TRUE(disk_.AddDir("Far/Away"));
    Rename("Dir", "Far/Away/Dir");
    EXPECT_TRUE(DriveMap_Move("C:\\Far\\Away\\Dir", "C:\\Dir"));
    EXPECT_NE(nullptr, Find("C:\\Far\\Away\\Dir\\Sub\\z.txt"));
    EXPECT_EQ(blocks - 2 + 2 + 2, BlocksOfC()) << "New, Deeper, Far and Away made; Dir and Sub kept";

    EXPECT_EQ(DRIVEMAP_OK, DriveMap_GetError());
    EXPECT_EQ(Flags(), MapFlags(1, 1, 0));
    ExpectSavesAndLoadsBack();
    ExpectTheMapOfAFreshBuild();
}

// The record is copied byte for byte and the old one removed, with both in one block and with a
// target block that moves as it grows.
TEST_F(Changes, AMovedRecordKeepsEveryByteInItsOwnBlockAndInOneThatMoves) {
    BuildSampleMap();
    HostMachine_MoveEveryReallocation(1);
    auto expectMovedToTheEnd = [&](const char *path, const std::string &bytes, DirectoryBlock *blockBefore) {
        EntryPosition position;
        ASSERT_TRUE(ResolvePath(path, &position));
        const EntryRecord *record = LoadPtr32<EntryRecord>(&position.pEntry);
        DirectoryBlock *block = LoadPtr32<DirectoryBlock>(&position.pBlock);
        EXPECT_EQ(bytes, Bytes(record));
        EXPECT_EQ(BlockEnd(block), reinterpret_cast<const BYTE *>(record) + GetEntryLength(record));
        EXPECT_NE(blockBefore, block) << "the block moved as it grew";
    };
    DirectoryBlock *bin = GetChildBlock(Find("C:\\Bin")), *docs = GetChildBlock(Find("C:\\Docs"));
    const std::string app = Bytes(Find("C:\\Bin\\App.exe"));
    ASSERT_TRUE(disk_.AddFile("Bin/Other.exe"));

    // A rename: the record keeps its name, and goes to the end of its block.
    EXPECT_TRUE(DriveMap_Move("C:\\Bin\\Renamed.exe", "C:\\Bin\\App.exe"));
    expectMovedToTheEnd("C:\\Bin\\App.exe", app, bin);
    EXPECT_EQ(nullptr, Find("C:\\Bin\\Renamed.exe"));

    EXPECT_TRUE(DriveMap_Move("C:\\Docs\\App.exe", "C:\\Bin\\App.exe"));
    expectMovedToTheEnd("C:\\Docs\\App.exe", app, docs);
    EXPECT_EQ(nullptr, Find("C:\\Bin\\App.exe"));

    // The same path in another case changes nothing; an old path the map does not hold is an
    // update of the new one.
    const std::vector<std::string> before = DumpMap();
    EXPECT_TRUE(DriveMap_Move("c:\\docs\\app.EXE", "C:\\Docs\\App.exe"));
    EXPECT_EQ(before, DumpMap());
    EXPECT_TRUE(DriveMap_Move("C:\\Bin\\Other.exe", "C:\\Bin\\Nowhere.exe"));
    EXPECT_EQ(1, GetUsageCount(Find("C:\\Bin\\Other.exe")));
    EXPECT_FALSE(DriveMap_Move("C:\\Bin\\Missing.exe", "C:\\Bin\\Nowhere.exe"));
    EXPECT_EQ(DRIVEMAP_BAD_PATH, DriveMap_GetError());
    ExpectSavesAndLoadsBack();
}

// A directory moves with its whole subtree within its drive. Where its blocks cannot follow (to
// another drive, into its own subtree) the old record goes with its subtree, as a file's does when
// it cannot be copied: no record is left naming a freed block.
TEST_F(Changes, ADirectoryMovesWithItsSubtreeOnItsDriveAndIsDroppedWhereItCannotGo) {
    BuildSampleMap();
    HostMachine_MoveEveryReallocation(1);
    const WORD blocks = BlocksOfC();
    EXPECT_TRUE(DriveMap_Move("C:\\Renamed", "C:\\Dir"));  // a rename in one block
    EXPECT_TRUE(DriveMap_Move("C:\\Docs\\Dir", "C:\\Dir"));
    EXPECT_EQ(blocks, BlocksOfC());
    EXPECT_EQ(nullptr, Find("C:\\Dir"));
    EXPECT_NE(nullptr, Find("C:\\Docs\\Dir\\Sub\\z.txt"));
    ASSERT_TRUE(CheckMapInvariants());

    EXPECT_FALSE(DriveMap_Move("C:\\Docs\\Dir\\Sub\\Dir", "C:\\Docs\\Dir"));
    EXPECT_EQ(DRIVEMAP_BAD_PATH, DriveMap_GetError());
    EXPECT_EQ(blocks - 2, BlocksOfC());
    EXPECT_EQ(nullptr, Find("C:\\Docs\\Dir"));

    TempTree other;
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, other.Root().c_str()));
    EXPECT_FALSE(DriveMap_Move("D:\\Old", "C:\\Old"));
    EXPECT_EQ(DRIVEMAP_BAD_PATH, DriveMap_GetError());
    EXPECT_EQ(blocks - 4, BlocksOfC());
    EXPECT_EQ(nullptr, Find("C:\\Old"));
    EXPECT_EQ(nullptr, Find("D:\\Old"));
    ExpectSavesAndLoadsBack();
}

enum Export { kDelete, kUpdate, kUse, kMove, kSystemIni };

// One change export; `oldPath` is the move's. A use counts 1.
BOOL Call(Export e, const char *path, const char *oldPath = nullptr) {
    switch (e) {
    case kDelete: return DriveMap_DeleteEntry(0, path);
    case kUpdate: return DriveMap_UpdateEntry(0, path);
    case kUse: return DriveMap_IncrementEntryUsageCount(0, path, 1);
    case kMove: return DriveMap_Move(path, oldPath);
    default: return DriveMap_UpdateSystemIniEntry();
    }
}

TEST_F(Changes, ResultsAndErrorCodesByPathAndKindOfDrive) {
    ASSERT_TRUE(disk_.AddFile("a.txt"));
    ASSERT_TRUE(disk_.AddFile("Folder/in.txt"));
    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    ASSERT_TRUE(disk_.AddFile("OnDisk.txt"));
    ASSERT_TRUE(disk_.AddDir("OnDiskDir"));
    TempTree other;
    ASSERT_TRUE(HostMachine_MapDrive('E', DRIVE_FIXED, other.Root().c_str()));
    ASSERT_TRUE(other.AddFile("Root.txt"));
    ASSERT_TRUE(other.AddFile("Sub/Deep.txt"));
    ASSERT_TRUE(HostMachine_MapDrive('A', DRIVE_REMOVABLE, nullptr));
    ASSERT_TRUE(HostMachine_MapDrive('N', DRIVE_REMOTE, disk_.Root().c_str()));
    HostMachine_SetVersion(0xC3B60004), HostMachine_SetVwin32(1);
    ResetDriveClassState();  // the build found NT
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\Folder"));
    ASSERT_TRUE(HostMachine_SubstDrive('T', "S:\\"));
    const std::string tooLong = "C:\\" + std::string(297, 'x');

    const struct {
        Export call;
        const char *path;
        BOOL result;
        DWORD error;
    } calls[] = {
        // Paths no change works on.
        {kDelete, nullptr, 0, DRIVEMAP_NOT_FOUND},
        {kUpdate, "", 0, DRIVEMAP_BAD_PATH},
        {kUse, "a.txt", 0, DRIVEMAP_BAD_PATH},
        {kDelete, tooLong.c_str(), 0, DRIVEMAP_NOT_FOUND},
        {kUpdate, "C:\\*.txt", 0, DRIVEMAP_BAD_PATH},
        // Drives the map does not cover; a substitution of a substitution ends there.
        {kDelete, "A:\\x", 0, DRIVEMAP_DRIVE_NOT_MAPPED},
        {kUpdate, "N:\\a.txt", 0, DRIVEMAP_DRIVE_NOT_MAPPED},
        {kUse, "T:\\in.txt", 0, DRIVEMAP_DRIVE_NOT_MAPPED},
        // A drive root has no record.
        {kDelete, "C:\\", 0, DRIVEMAP_OK},
        {kUse, "C:\\", 0, DRIVEMAP_BAD_PATH},
        // Not in the map: nothing on disk, a directory, a file (added, then found).
        {kDelete, "C:\\nothing.txt", 0, DRIVEMAP_NOT_FOUND},
        {kUpdate, "C:\\nothing.txt", 0, DRIVEMAP_OK},
        {kUpdate, "C:\\OnDiskDir", 1, DRIVEMAP_OK},
        {kUse, "C:\\OnDisk.txt", 1, DRIVEMAP_OK},
        {kUpdate, "C:\\OnDisk.txt", 1, DRIVEMAP_OK},
        // Found through the substituted drive; deleted although still on disk.
        {kUse, "S:\\in.txt", 1, DRIVEMAP_OK},
        {kDelete, "S:\\in.txt", 1, DRIVEMAP_OK},
        {kDelete, "C:\\Folder\\in.txt", 0, DRIVEMAP_NOT_FOUND},
        // A path whose leading part names a file resolves to that file.
        {kDelete, "C:\\a.txt\\more", 1, DRIVEMAP_OK},
        // A fixed drive the table does not hold gets a record but no root block, so a file in its
        // root has nowhere to go.
        {kUpdate, "E:\\ROOT.TXT", 0, DRIVEMAP_BAD_PATH},
        // Deeper down the root block is made, with the directories above the file.
        {kUpdate, "E:\\Sub\\Deep.txt", 1, DRIVEMAP_OK},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(std::string(c.path ? c.path : "(null)") + " call " + std::to_string(c.call));
        gErrorCode = 99;
        EXPECT_EQ(c.result, Call(c.call, c.path));
        EXPECT_EQ(c.error, gErrorCode);
        EXPECT_EQ(0u, gCriticalFlag);
    }
    EXPECT_EQ(nullptr, Find("C:\\a.txt"));
    EXPECT_EQ(nullptr, Find("C:\\OnDiskDir"));
    EXPECT_EQ(2, GetUsageCount(Find("C:\\OnDisk.txt")));
    EXPECT_EQ(nullptr, Find("E:\\Root.txt"));
    EXPECT_NE(nullptr, Find("E:\\Sub\\Deep.txt"));
    ExpectSavesAndLoadsBack();
}

TEST_F(Changes, UsesWrapAtSixteenBitsAndStampTheLocalTime) {
    ASSERT_TRUE(disk_.AddFile("a.txt"));
    ASSERT_TRUE(disk_.AddDir("Dir"));
    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    const SYSTEMTIME later = {2031, 6, 0, 15, 13, 45, 31, 0};
    HostMachine_FreezeLocalTime(&later);
    SetUsageCount(Find("C:\\a.txt"), 65534);
    EXPECT_TRUE(DriveMap_IncrementEntryUsageCount(0, "C:\\a.txt", 3));
    EXPECT_EQ(1, GetUsageCount(Find("C:\\a.txt")));
    const BYTE *tail = GetFileTail(Find("C:\\a.txt"));
    EXPECT_EQ((2031 - 1980) * 512 + 6 * 32 + 15, LoadField<WORD>(tail + FILE_TAIL_USED_DATE));
    EXPECT_EQ(13 * 2048 + 45 * 32 + 15, LoadField<WORD>(tail + FILE_TAIL_USED_TIME));
    EXPECT_TRUE(DriveMap_IncrementEntryUsageCount(0, "C:\\a.txt", 0x00010002));
    EXPECT_EQ(3, GetUsageCount(Find("C:\\a.txt")));
    SetUsageCount(Find("C:\\a.txt"), 65535);
    EXPECT_TRUE(DriveMap_UpdateEntry(0, "C:\\a.txt"));
    EXPECT_EQ(0, GetUsageCount(Find("C:\\a.txt")));

    // The dirty flag is set once the path is known to be full, whatever comes of it.
    const std::vector<std::string> before = DumpMap();
    for (const char *path : {"C:\\Dir", "C:\\nothing.txt", "relative.txt"}) {
        gDirtyFlag = 0;
        DriveMap_IncrementEntryUsageCount(0, path, 1);
        EXPECT_EQ(path[0] == 'C', gDirtyFlag == 1) << path;
    }
    EXPECT_EQ(before, DumpMap());
}

// A client callback that calls into the library from inside a build.
struct Nested {
    static int WINAPI OnFile(void *, char *, FIND_DATA *, LONG) {
        refused = !DriveMap_UpdateSystemIniEntry();
        return 1;
    }
    static inline BOOL refused = FALSE;
};

// While the flag is set the changing exports refuse and touch nothing, but the SYSTEM.INI update
// runs and clears it. It still refuses inside another export (here a build's client callback),
// where changing records would pull blocks from under the running operation.
TEST_F(Changes, TheCriticalFlagRefusesEveryChangeButTheSystemIniUpdate) {
    ASSERT_TRUE(disk_.AddFile("a.txt"));
    ASSERT_TRUE(disk_.AddFile("WINDOWS/SYSTEM.INI", "[boot]"));
    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    const std::vector<std::string> before = DumpMap();
    SetCritical(1);
    gErrorCode = 99, gDirtyFlag = 0;
    EXPECT_FALSE(DriveMap_DeleteEntry(0, "C:\\a.txt"));
    EXPECT_FALSE(DriveMap_UpdateEntry(0, "C:\\a.txt"));
    EXPECT_FALSE(DriveMap_IncrementEntryUsageCount(0, "C:\\a.txt", 1));
    EXPECT_FALSE(DriveMap_Move("C:\\b.txt", "C:\\a.txt"));
    EXPECT_EQ(before, DumpMap());
    EXPECT_EQ(Flags(), MapFlags(1, 0, 1));
    EXPECT_EQ(99u, gErrorCode);
    // The operations those exports share give the flag back as they found it.
    EXPECT_TRUE(DeletePathEntry("C:\\a.txt"));
    EXPECT_EQ(1u, gCriticalFlag);

    const std::string systemIni = "[boot]\r\nshell=progman.exe\r\n";
    ASSERT_TRUE(disk_.AddFile("WINDOWS/SYSTEM.INI", systemIni));
    EXPECT_TRUE(DriveMap_UpdateSystemIniEntry());
    EXPECT_EQ(Flags(), MapFlags(1, 1, 0));
    EXPECT_EQ(DRIVEMAP_OK, gErrorCode);
    EXPECT_EQ(systemIni.size(), GetEntryFileSize(Find("C:\\WINDOWS\\SYSTEM.INI")));

    ASSERT_TRUE(DriveMap_BuildAll(nullptr, Nested::OnFile, nullptr));
    EXPECT_TRUE(Nested::refused);
    EXPECT_NE(nullptr, Find("C:\\WINDOWS\\SYSTEM.INI"));
    ExpectSavesAndLoadsBack();
}

// Each change with too little global memory: below the reference buffer (a loaded map has none
// yet), below the import scanner's buffers, and with both but no room to grow the Docs block. It
// gives the documented result, leaks nothing (the fixture counts the blocks), and every record but
// the changed path's stays.
TEST_F(Changes, OutOfMemoryGivesTheDocumentedResultAndKeepsTheMapWhole) {
    BuildSampleMap();
    ASSERT_TRUE(disk_.AddFile("Bin/new.txt"));
    ASSERT_TRUE(disk_.AddFile("Docs/New/f.txt"));
    ASSERT_TRUE(disk_.AddFile("WINDOWS/SYSTEM.INI"));
    const unsigned long kNoReferenceBuffer = REFERENCE_BUFFER_SIZE - 1, kNoScanBuffers = SCAN_HEADER_BUFFER_SIZE - 1;
    const struct {
        Export call;
        const char *path, *oldPath;
        unsigned long limit;
        DWORD error;
    } cases[] = {
        {kDelete, "C:\\Bin\\App.exe", nullptr, kNoReferenceBuffer, 3},
        {kUpdate, "C:\\Bin\\App.exe", nullptr, kNoReferenceBuffer, 3},
        {kSystemIni, nullptr, nullptr, kNoReferenceBuffer, 3},
        {kUpdate, "C:\\Bin\\new.txt", nullptr, kNoScanBuffers, 1},  // added
        {kUpdate, "C:\\Docs\\New\\f.txt", nullptr, kNoGrowth, 1},
        {kMove, "C:\\Docs\\App.exe", "C:\\Bin\\App.exe", kNoGrowth, 1},
        {kMove, "C:\\Docs\\New\\f.txt", "C:\\Nowhere.txt", kNoGrowth, 1},  // an update of the new path
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path ? c.path : "SYSTEM.INI") + " limit " + std::to_string(c.limit));
        ResetTestMap();
        ASSERT_TRUE(DriveMap_ReadAll(0));
        const std::vector<std::string> before = DumpMap();
        HostMachine_LimitAllocations(c.limit);
        const BOOL result = Call(c.call, c.path, c.oldPath);
        HostMachine_LimitAllocations(0);
        EXPECT_FALSE(result);
        EXPECT_EQ(c.error, DriveMap_GetError());
        EXPECT_EQ(0u, gCriticalFlag);
        // A move drops the old record (a directory's with its subtree) even when the copy fails.
        const std::string gone = c.oldPath ? c.oldPath : "\n";
        const std::vector<std::string> after = DumpMap();
        const std::set<std::string> kept(after.begin(), after.end());
        for (const std::string &line : before) {
            if (!line.starts_with(gone + " ") && !line.starts_with(gone + "\\")) {
                EXPECT_TRUE(kept.count(line)) << "lost: " << line;
            }
        }
        if (c.oldPath) {
            EXPECT_EQ(nullptr, Find(c.oldPath));
        }
        ExpectSavesAndLoadsBack();
    }
}

}  // namespace
