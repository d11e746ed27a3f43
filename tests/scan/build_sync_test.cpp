// Building the map from the disks and synchronising it with them, end to end on host trees: what
// a build records, that load and sync reproduce it, that a sync after changes equals a fresh build,
// stopped scans, drives that are not walked, and the format limits.
#include "common/exe_builder.h"
#include "common/failing_allocator.h"
#include "common/map_dump.h"
#include "scan/scan_fixture.h"

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Every block is cut back to exactly the bytes it uses.
void ExpectBlocksCutBack() {
    for (DirectoryBlock *b = GetChainHead(); b != nullptr; b = GetBlockNext(b))
        EXPECT_EQ(GetBlockUsed(b), GlobalSize(GlobalHandle(b))) << "block " << GetBlockId(b);
}

struct ClientLog {
    int files = 0, enters = 0, stopAtFile = 0;
    static int WINAPI OnFile(void *context, char *, FIND_DATA *, LONG) {
        auto *log = static_cast<ClientLog *>(context);
        return ++log->files != log->stopAtFile;
    }
    static int WINAPI OnDir(void *context, unsigned event, char *, char *, LONG) {
        static_cast<ClientLog *>(context)->enters += event == DIR_EVENT_ENTER;
        return 1;
    }
};

class BuildSync : public ScanTest {
protected:
    void MakeSampleTree() {
        ASSERT_TRUE(disk_.AddFile("AUTOEXEC.BAT", "@echo off"));
        ASSERT_TRUE(disk_.AddFile("Long File Name.TXT", "text"));
        ASSERT_TRUE(disk_.AddFile("Bin/app.exe", BuildPeFile({.imports = {"FOO.DLL", "bar.dll"}})));
        ASSERT_TRUE(disk_.AddFile("Bin/old.exe", BuildNeFile({.modules = {"LEGACY"}})));
        ASSERT_TRUE(disk_.AddFile("grow.txt", "12"));
        ASSERT_TRUE(disk_.AddFile("Turn", "a file, then a directory"));
        ASSERT_TRUE(disk_.AddFile("Gone/Sub/x.txt"));
        ASSERT_TRUE(disk_.AddFile("Mixed.txt"));
        ASSERT_TRUE(disk_.AddDir("Empty"));
        // UTF-8 names that fit 8.3: kept as the host has them, so a sync finds them again.
        ASSERT_TRUE(disk_.AddFile("\xC3\x84\xC3\x96/\xC3\xA9t\xC3\xA9.txt"));
        // Names that differ only in case: the map, like Windows, holds one of them.
        ASSERT_TRUE(disk_.AddFile("Case/hidden.txt"));
        ASSERT_TRUE(disk_.AddFile("CASE/shown.txt"));
        // 700 records of 49 bytes: the block grows twice past 16 KB.
        for (int i = 0; i < 700; ++i)
            ASSERT_TRUE(disk_.AddFile("Docs/document-number-" + std::to_string(10000 + i) + ".doc"));
    }
    BOOL Build(ClientLog *log = nullptr) {
        return DriveMap_BuildAll(log, log ? ClientLog::OnFile : nullptr, log ? ClientLog::OnDir : nullptr);
    }
    BOOL Sync(ClientLog *log = nullptr) {
        return DriveMap_SyncAll(log, log ? ClientLog::OnFile : nullptr, log ? ClientLog::OnDir : nullptr);
    }
};

TEST_F(BuildSync, BuildRecordsEveryEntryAndLoadsBackIdentically) {
    MakeSampleTree();
    ClientLog log;
    ASSERT_TRUE(Build(&log));
    EXPECT_EQ(DRIVEMAP_OK, DriveMap_GetError());
    EXPECT_EQ(Flags(), MapFlags(1, 0, 0));
    EXPECT_EQ(17 + 700, log.files);
    EXPECT_EQ(8, log.enters);  // C:\, Bin, Gone, Gone\Sub, Empty, CASE, Docs, ÄÖ
    EXPECT_TRUE(CheckMapInvariants());
    ExpectBlocksCutBack();
    EXPECT_EQ(1u, DWORD{gDriveTable.dwCount});  // P: is removable
    EXPECT_EQ(8, GetDriveBlockCount(&gDriveTable.records[0]));
    EXPECT_NE(nullptr, Find("C:\\case\\shown.txt"));
    EXPECT_STREQ("Autoexec.bat", GetEntryName(Find("C:\\AUTOEXEC.BAT")));
    EXPECT_STREQ("Long File Name.TXT", GetEntryName(Find("C:\\long file name.txt")));
    ASSERT_NE(nullptr, Find("C:\\Bin\\app.exe"));
    EXPECT_EQ(ENTRY_IS_FILE | ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_HAS_REFS | ENTRY_PE,
              GetEntryFlags(Find("C:\\Bin\\app.exe")));
    EXPECT_EQ(ENTRY_IS_FILE | ENTRY_SCANNED | ENTRY_EXECUTABLE | ENTRY_HAS_REFS,
              GetEntryFlags(Find("C:\\Bin\\old.exe")));
    // One use, stamped with the frozen clock's 2030-01-01, and the references as module names.
    const std::vector<std::string> dump = DumpMap();
    const std::string appUse = " used=1@" + std::to_string((2030 - 1980) * 512 + 32 + 1) + "/0 ref=foo ref=bar";
    EXPECT_NE(dump.end(), std::find_if(dump.begin(), dump.end(), [&](const std::string &l) {
                  return l.starts_with("C:\\Bin\\App.exe") && l.ends_with(appUse);
              }));

    ResetTestMap();
    ASSERT_TRUE(DriveMap_ReadAll(0));
    EXPECT_EQ(dump, DumpMap());
}

TEST_F(BuildSync, SyncKeepsWhatIsUnchangedAndEndsWithTheMapOfAFreshBuild) {
    MakeSampleTree();
    HostMachine_MoveEveryReallocation(1);  // every growth and cut moves the block: links must follow
    ASSERT_TRUE(Build());
    EXPECT_TRUE(CheckMapInvariants());
    const std::vector<std::string> built = DumpMap();
    const DWORD appSize = GetEntryFileSize(Find("C:\\Bin\\app.exe"));
    ASSERT_EQ(0, std::remove(program_.Path("PWDRVMAP.DAT").c_str()));

    ClientLog log;
    ASSERT_TRUE(Sync(&log));
    EXPECT_EQ(DRIVEMAP_OK, DriveMap_GetError());
    EXPECT_EQ(built, DumpMap());  // same records, same order, no mark left
    EXPECT_EQ(0, log.files);      // the client hears only of additions
    EXPECT_EQ(8, log.enters);
    EXPECT_FALSE(MapFile().empty());
    ExpectBlocksCutBack();

    // A file read after its last recorded use counts one use, stamped with the access time.
    const struct timespec times[2] = {{1924992000 /* 2031-01-01 */, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, disk_.Path("grow.txt").c_str(), times, 0));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(2, GetUsageCount(Find("C:\\grow.txt")));
    EXPECT_EQ((2031 - 1980) * 512 + 32 + 1, LoadField<WORD>(GetFileTail(Find("C:\\grow.txt")) + FILE_TAIL_USED_DATE));
    EXPECT_EQ(1, GetUsageCount(Find("C:\\Mixed.txt")));

    ASSERT_TRUE(disk_.AddFile("new.txt", "new"));
    ASSERT_TRUE(disk_.AddFile("NewDir/Deeper/n.txt"));
    ASSERT_EQ(0, std::remove(disk_.Path("Docs/document-number-10100.doc").c_str()));
    ASSERT_TRUE(disk_.AddFile("grow.txt", "grown a lot"));
    ASSERT_EQ(0, std::remove(disk_.Path("Turn").c_str()));
    ASSERT_TRUE(disk_.AddFile("Turn/inside.txt"));
    ASSERT_TRUE(disk_.AddFile("Bin/app.exe", BuildPeFile({.sections = {".text", ".data", ".idata"},
                                                          .importSection = 2,
                                                          .imports = {"foo.dll", "bar.dll", "baz.dll"}})));
    ASSERT_EQ(0, std::system(("rm -r " + disk_.Path("Gone")).c_str()));
    ASSERT_EQ(0, std::rename(disk_.Path("Mixed.txt").c_str(), disk_.Path("MIXED.TXT").c_str()));
    ASSERT_TRUE(Sync());
    EXPECT_TRUE(CheckMapInvariants());
    ExpectBlocksCutBack();
    const std::vector<std::string> synced = Sorted(DumpMap(false));
    // The rescanned executable went to the end of its block, made afresh.
    EntryPosition app;
    ASSERT_TRUE(ResolvePath("C:\\Bin\\app.exe", &app));
    const EntryRecord *record = LoadPtr32<EntryRecord>(&app.pEntry);
    EXPECT_EQ(BlockEnd(LoadPtr32<DirectoryBlock>(&app.pBlock)), (const BYTE *)record + GetEntryLength(record));
    EXPECT_NE(appSize, GetEntryFileSize(record));
    EXPECT_EQ(1, GetUsageCount(record));
    EXPECT_STREQ("Mixed.txt", GetEntryName(Find("C:\\MIXED.TXT")));

    // A fresh build, and a sync into an empty map, which adds everything as a build does.
    ResetTestMap();
    ASSERT_TRUE(Build());
    EXPECT_EQ(Sorted(DumpMap(false)), synced);
    ResetTestMap();
    ASSERT_TRUE(Sync());
    EXPECT_EQ(Sorted(DumpMap(false)), synced);
}

TEST_F(BuildSync, StoppedScansSaveNothing) {
    MakeSampleTree();
    ClientLog stopFirst{.stopAtFile = 1};
    EXPECT_FALSE(Build(&stopFirst));
    EXPECT_EQ(DRIVEMAP_STOPPED, DriveMap_GetError());
    EXPECT_EQ(Flags(), MapFlags(0, 0, 0));
    EXPECT_EQ(nullptr, Find("C:\\Bin"));  // nothing of the stopping entry, or after it
    EXPECT_TRUE(MapFile().empty());

    ASSERT_TRUE(Build());
    const std::string saved = MapFile();
    ASSERT_TRUE(disk_.AddFile("added.txt"));
    ClientLog stopSync{.stopAtFile = 1};  // the first addition
    EXPECT_FALSE(Sync(&stopSync));
    EXPECT_EQ(DRIVEMAP_STOPPED, DriveMap_GetError());
    EXPECT_EQ(Flags(), MapFlags(1, 0, 0));
    EXPECT_EQ(saved, MapFile());

    // A scan cannot be started from inside another one.
    static BOOL nested = TRUE;
    struct Nest {
        static int WINAPI OnFile(void *, char *, FIND_DATA *, LONG) {
            nested = DriveMap_BuildAll(nullptr, nullptr, nullptr) || DriveMap_SyncAll(nullptr, nullptr, nullptr);
            return 1;
        }
    };
    ASSERT_TRUE(DriveMap_SyncAll(nullptr, Nest::OnFile, nullptr));
    EXPECT_FALSE(nested);
    EXPECT_TRUE(CheckMapInvariants());
}

// A stopped sync leaves its marks on the records it met; the next sync must not take them for its
// own, or a record met then and deleted since would stay in the map.
TEST_F(BuildSync, ASyncAfterAStoppedSyncEndsWithExactlyTheDisk) {
    ASSERT_TRUE(disk_.AddFile("a.txt"));
    ASSERT_TRUE(Build());
    ASSERT_TRUE(disk_.AddFile("z.txt"));  // listed after a.txt
    ClientLog stopAtAddition{.stopAtFile = 1};
    EXPECT_FALSE(Sync(&stopAtAddition));
    ASSERT_NE(nullptr, Find("C:\\a.txt"));
    EXPECT_NE(0, GetEntryFlags(Find("C:\\a.txt")) & ENTRY_SEEN) << "a stopped sync keeps the marks it made";
    ASSERT_EQ(0, unlink(disk_.Path("a.txt").c_str()));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(nullptr, Find("C:\\a.txt"));
    EXPECT_NE(nullptr, Find("C:\\z.txt"));
    for (const std::string &line : DumpMap()) EXPECT_EQ(std::string::npos, line.find("flags=17")) << line;
    EXPECT_TRUE(CheckMapInvariants());
}

// A directory whose listing runs out of memory is not mapped as empty, which would drop what it
// holds (in a sync, what the map knew of it): the scan stops with error 3 and saves nothing. The
// listing hook makes every allocation fail between the directory's lookup and its reading.
TEST_F(BuildSync, AListingOutOfMemoryStopsTheScan) {
    ASSERT_TRUE(disk_.AddFile("Big/inside.txt"));
    ASSERT_TRUE(disk_.AddFile("after.txt"));
    ASSERT_TRUE(program_.AddFile("PWDRVMAP.DAT", "the previous map"));
    HostMachine_SetListingHook(
        [](void *, const char *directory) {
            if (std::string_view(directory).ends_with("/Big")) FailAllocationsAfter(0);
        },
        nullptr);
    EXPECT_FALSE(Build());
    HostMachine_SetListingHook(nullptr, nullptr);
    FailAllocationsAfter(-1);
    EXPECT_EQ(DRIVEMAP_NO_MEMORY, DriveMap_GetError());
    EXPECT_EQ("the previous map", MapFile());
    ASSERT_TRUE(Build());  // memory back: the whole tree
    EXPECT_NE(nullptr, Find("C:\\Big\\inside.txt"));
}

TEST_F(BuildSync, OnlyLocalHardDisksThatCanBeEnteredAreWalked) {
    // Neither blocks the scan: a FIFO named like an executable, a link back up the tree.
    ASSERT_TRUE(disk_.AddFifo("Bin/pipe.exe"));
    ASSERT_TRUE(disk_.AddSymlink("Bin/loop", ".."));
    // Not walked: a fixed disk whose directory is gone (recorded without a tree), a network drive
    // and a drive substituted on Windows 95, whose DOS layer knows substitutions.
    TempTree vanished;
    ASSERT_TRUE(vanished.AddDir("gone"));
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, vanished.Path("gone").c_str()));
    ASSERT_EQ(0, rmdir(vanished.Path("gone").c_str()));
    ASSERT_TRUE(HostMachine_MapDrive('N', DRIVE_REMOTE, disk_.Root().c_str()));
    HostMachine_SetVersion(0xC3B60004);
    HostMachine_SetVwin32(1);
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\Bin"));
    ASSERT_TRUE(Build());
    EXPECT_EQ(ENTRY_IS_FILE, GetEntryFlags(Find("C:\\Bin\\pipe.exe")));
    EXPECT_EQ(ENTRY_IS_FILE, GetEntryFlags(Find("C:\\Bin\\loop")));
    ASSERT_EQ(2u, DWORD{gDriveTable.dwCount});
    EXPECT_EQ('C', gDriveTable.records[0].chLetter);
    EXPECT_EQ('D', gDriveTable.records[1].chLetter);
    EXPECT_EQ(nullptr, GetDriveRoot(&gDriveTable.records[1]));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(2u, DWORD{gDriveTable.dwCount});
    EXPECT_TRUE(CheckMapInvariants());
}

// A drive's block count is 16 bits: a scan that would make its 65,536th block stops, saves
// nothing and keeps the previous map file.
TEST_F(BuildSync, ADriveWithMoreDirectoriesThanTheFormatHoldsIsNotSaved) {
    // 65,793 directories: on a memory file system when there is one, as disks make them slowly.
    TempTree big(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr);
    ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, big.Root().c_str()));
    for (int i = 0; i < 256; ++i) {
        const std::string top = big.Path(std::to_string(i));
        ASSERT_EQ(0, mkdir(top.c_str(), 0755));
        for (int j = 0; j < 256; ++j) ASSERT_EQ(0, mkdir((top + "/" + std::to_string(j)).c_str(), 0755));
    }
    ASSERT_TRUE(program_.AddFile("PWDRVMAP.DAT", "the previous map"));
    EXPECT_FALSE(Build());
    EXPECT_EQ(DRIVEMAP_WRITE_FAILED, DriveMap_GetError());
    EXPECT_EQ(0xFFFF, GetDriveBlockCount(&gDriveTable.records[0]));
    EXPECT_EQ(Flags(), MapFlags(0, 0, 0));
    EXPECT_EQ("the previous map", MapFile());
    EXPECT_FALSE(Sync());
    EXPECT_EQ(DRIVEMAP_WRITE_FAILED, DriveMap_GetError());
    EXPECT_EQ("the previous map", MapFile());
}

}  // namespace
