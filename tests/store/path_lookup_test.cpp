#include "store/path_lookup.h"

#include "common/temp_tree.h"
#include "scan/drive_class.h"
#include "store/store_fixture.h"

#include <string.h>

#include <string>

namespace {

EntryRecord *EntryOf(const EntryPosition &p) { return LoadPtr32<EntryRecord>(&p.pEntry); }
// The block and the record a position holds.
std::pair<DirectoryBlock *, EntryRecord *> At(const EntryPosition &p) {
    return {LoadPtr32<DirectoryBlock>(&p.pBlock), EntryOf(p)};
}

// Fixed drive C (the map need not match the host directory behind it): C:\README.TXT, a file
// C:\Data followed by a directory of the same name, and C:\WINDOWS\SYSTEM\Drivers\Deep File.SYS.
class PathLookupTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ResetDriveClassState();
        ASSERT_EQ(1, HostMachine_MapDrive('C', DRIVE_FIXED, disk.Root().c_str()));
        ASSERT_TRUE((root = BuildDrive('C')));
        ASSERT_TRUE(BuildFile(&root, "README.TXT"));
        ASSERT_TRUE(BuildFile(&root, "Data", 20));
        ASSERT_TRUE((data = BuildDirectory(&root, "Data")));
        ASSERT_TRUE((windows = BuildDirectory(&root, "WINDOWS")));
        ASSERT_TRUE((system = BuildDirectory(&windows, "SYSTEM")));
        ASSERT_TRUE((drivers = BuildDirectory(&system, "Drivers")));
        ASSERT_TRUE(BuildFile(&drivers, "Deep File.SYS"));
    }
    void TearDown() override { StoreTest::TearDown(), ResetDriveClassState(); }
    // The export's result; its error code and the cleared critical flag are checked on the way.
    BOOL GetEntry(const char *path, EntryPosition *position, DWORD expectedError) {
        gErrorCode = 99, gOperationMode = MODE_UPDATE;
        const BOOL result = DriveMap_GetEntry(0, path, position);
        EXPECT_EQ(expectedError, gErrorCode) << (path ? path : "(null)");
        EXPECT_EQ(std::make_pair(gCriticalFlag, gOperationMode), std::make_pair(0u, DWORD{MODE_QUERY}));
        return result;
    }
    TempTree disk;
    DirectoryBlock *root, *data, *windows, *system, *drivers;
};

TEST_F(PathLookupTest, ResolvesRootsRecordsAndTheDeepestBlockOfAMiss) {
    EntryRecord *readme = FindTestEntry(root, "README.TXT"), *sys = FindTestEntry(root, "WINDOWS\\SYSTEM");
    const struct {
        const char *path;
        BOOL found;
        DirectoryBlock *block;
        EntryRecord *entry;
    } cases[] = {
        {"c:\\", 1, root, nullptr},
        {"c:\\windows\\system\\DRIVERS\\deep file.sys", 1, drivers, FindTestEntry(drivers, "Deep File.SYS")},
        {"C:\\README.TXT\\not\\looked\\at", 1, root, readme},  // a file ends the walk
        {"C:\\WINDOWS\\SYSTEM\\", 1, windows, sys},
        {"C:\\WINDOWS\\SYSTEM\\missing.dll", 0, system, nullptr},
        {"C:\\nowhere\\x", 0, root, nullptr},
    };
    for (const auto &c : cases) {
        EntryPosition position;
        EXPECT_EQ(c.found, GetEntry(c.path, &position, c.found ? DRIVEMAP_OK : DRIVEMAP_NOT_FOUND)) << c.path;
        EXPECT_EQ(At(position), std::make_pair(c.block, c.entry)) << c.path;
    }
    EntryPosition position;
    ASSERT_TRUE(ResolvePath("C:\\Data", &position));
    ASSERT_TRUE(IsFile(EntryOf(position)));  // the first of the name
    ASSERT_TRUE(WalkPath("C:\\Data", &position, /*directoriesOnly=*/1));
    EXPECT_EQ(GetChildBlock(EntryOf(position)), data);
    // A longer component (cut at 299 when copied) must not find the name that it begins with.
    const std::string name(299, 'N');
    ASSERT_TRUE(BuildFile(&system, name.c_str()));
    EXPECT_TRUE(ResolvePath(("C:\\WINDOWS\\SYSTEM\\" + name).c_str(), &position));
    EXPECT_FALSE(ResolvePath(("C:\\WINDOWS\\SYSTEM\\" + name + "NN").c_str(), &position));
    EXPECT_EQ(At(position), std::make_pair(system, (EntryRecord *)nullptr));
    // The export refuses paths longer than 299 characters.
    EXPECT_FALSE(GetEntry(("C:\\WINDOWS\\SYSTEM\\" + name).c_str(), &position, DRIVEMAP_NOT_FOUND));
}

TEST_F(PathLookupTest, ErrorCodesByKindOfDriveAndSubstitutedDrivesOnWindows95) {
    HostMachine_SetVersion(0xC3B60004), HostMachine_SetVwin32(1);
    const char *host = disk.Root().c_str();
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, host));
    ASSERT_TRUE(HostMachine_MapDrive('E', DRIVE_CDROM, NULL));
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\WINDOWS"));
    const struct {
        const char *path;
        DWORD error;
    } misses[] = {
        {nullptr, DRIVEMAP_NOT_FOUND},
        {"", DRIVEMAP_NOT_FOUND},
        {"C:WINDOWS", DRIVEMAP_NOT_FOUND},
        {"d:\\file.txt", DRIVEMAP_NOT_FOUND},
        {"S:\\SYSTEM\\none", DRIVEMAP_NOT_FOUND},
        {"E:\\", DRIVEMAP_DRIVE_NOT_MAPPED},
        {"\\\\server\\share\\x", DRIVEMAP_DRIVE_NOT_MAPPED},
    };
    EntryPosition position;
    for (const auto &c : misses) EXPECT_FALSE(GetEntry(c.path, &position, c.error)) << (c.path ? c.path : "(null)");
    EXPECT_TRUE(GetEntry("s:\\System\\drivers\\DEEP FILE.SYS", &position, DRIVEMAP_OK));
    EXPECT_EQ(FindTestEntry(drivers, "Deep File.SYS"), EntryOf(position));
    EXPECT_TRUE(GetEntry("S:\\", nullptr, DRIVEMAP_OK));  // no position to fill: no harm
}

TEST_F(PathLookupTest, FullPathsAsStoredAndNeverPastThreeHundredBytes) {
    // "C:\" and three 70-character directories leave 83 characters for a name within 299.
    const std::string dir(70, 'd'), fits(83, 'f'), tooLong(84, 'g');
    DirectoryBlock *block = root;
    for (int i = 0; i < 3; ++i) ASSERT_NE(nullptr, block = BuildDirectory(&block, dir.c_str()));
    ASSERT_TRUE(BuildFile(&block, fits.c_str()));
    ASSERT_TRUE(BuildFile(&block, tooLong.c_str()));
    const struct {
        const char *lookup;
        std::string expected;
    } cases[] = {
        {"c:\\readme.txt", "C:\\README.TXT"},
        {"c:\\windows\\system\\drivers\\deep file.sys", "C:\\WINDOWS\\SYSTEM\\Drivers\\Deep File.SYS"},
        {"C:\\", "C:\\"},  // a position without an entry gives its directory, with a backslash
        {"c:\\windows\\system\\none", "C:\\WINDOWS\\SYSTEM\\"},
    };
    char buffer[PATH_BUFFER_SIZE + 16];
    for (const auto &c : cases) {
        EntryPosition position;
        DriveMap_GetEntry(0, c.lookup, &position);
        gErrorCode = DRIVEMAP_DRIVE_NOT_MAPPED, gCriticalFlag = 1, gOperationMode = MODE_BUILD;
        EXPECT_TRUE(DriveMap_GetFullPath(buffer, &position));
        EXPECT_EQ(c.expected, buffer);
        EXPECT_EQ(DRIVEMAP_OK, gErrorCode);
        EXPECT_EQ(std::make_pair(gCriticalFlag, gOperationMode), std::make_pair(0u, DWORD{MODE_QUERY}));
    }
    EntryPosition position;
    StorePtr32(&position.pBlock, block), StorePtr32(&position.pEntry, FindEntryByName(block, fits.c_str(), 0));
    EXPECT_TRUE(DriveMap_GetFullPath(buffer, &position));
    EXPECT_EQ(299u, strlen(buffer));
    StorePtr32(&position.pEntry, FindEntryByName(block, tooLong.c_str(), 0));
    memset(buffer, 'Z', sizeof buffer);
    EXPECT_FALSE(DriveMap_GetFullPath(buffer, &position));  // refused, not cut
    EXPECT_EQ('\0' + std::string(sizeof buffer - 1, 'Z'), std::string(buffer, sizeof buffer));
}

// The scans' lookup must give WalkPath's answer whatever the trail holds: the trail extended along
// the way as the scans do, blocks moved under it, a directory on it freed, paths that leave it.
TEST_F(PathLookupTest, ScanLookUpsGiveWalkPathsAnswerAlongAnyTrail) {
    ASSERT_TRUE(BuildDirectory(&root, "windows"));  // same name in other case: the first one counts
    DirectoryBlock *fonts = nullptr;
    ASSERT_TRUE((fonts = BuildDirectory(&windows, "Fonts")));
    ASSERT_TRUE(BuildDirectory(&fonts, "Sub"));
    gCurrentDrive = &gDriveTable.records[0];
    ForgetDirectoryTrail();
    auto expectSame = [](const char *path) {
        EntryPosition walked, scanned;
        const BOOL expected = WalkPath(path, &walked, /*directoriesOnly=*/1);
        EXPECT_EQ(expected, WalkScanDirectory(path, &scanned)) << path;
        EXPECT_EQ(At(walked), At(scanned)) << path;
        if (EntryOf(scanned) != nullptr) ExtendDirectoryTrail(path, GetChildBlock(EntryOf(scanned)));
    };
    for (const char *path :
         {"C:\\", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM\\Drivers", "C:\\WINDOWS\\SYSTEM\\Nope",
          "C:\\WINDOWS\\Fonts", "C:\\WINDOWS\\Fonts\\Sub", "C:\\windows\\Fonts\\Sub", "C:\\WINDOWS\\Fonts\\Sub\\",
          "C:\\WINDOWS\\\\Fonts", "C:\\Data", "C:\\README.TXT", "C:\\Data\\x", "C:\\WINDOWS\\SYSTEM\\Drivers"})
        expectSame(path);

    auto enterDrivers = [&] {
        for (const char *path : {"C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM\\Drivers"})
            expectSame(path);
        EXPECT_EQ(3u, gDirectoryTrail.cLevels);
    };
    enterDrivers();
    HostMachine_MoveEveryReallocation(1);
    DirectoryBlock *movedFrom = system;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(BuildFile(&system, ("grow" + std::to_string(i)).c_str()));
    ASSERT_NE(movedFrom, system);
    expectSame("C:\\WINDOWS\\SYSTEM\\Drivers");
    expectSame("C:\\WINDOWS\\SYSTEM\\Drivers\\Deep File.SYS");  // a file is no directory

    // SYSTEM and Drivers freed and a new SYSTEM made, perhaps at a freed address.
    enterDrivers();
    EntryPosition position;
    StorePtr32(&position.pBlock, windows), StorePtr32(&position.pEntry, FindTestEntry(windows, "SYSTEM"));
    ASSERT_TRUE(RemoveEntry(&position));
    ASSERT_TRUE(BuildDirectory(&windows, "SYSTEM"));
    expectSame("C:\\WINDOWS\\SYSTEM\\Drivers");
    expectSame("C:\\WINDOWS\\SYSTEM");
    expectSame("C:\\WINDOWS\\SYSTEM\\Drivers");
    ForgetDirectoryTrail();
    expectSame("C:\\WINDOWS\\Fonts\\Sub");  // not under the trail: walked from the root
}

}  // namespace
