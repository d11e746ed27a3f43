// Saving and loading the map file: round trips, exact bytes, damaged files, memory failures,
// chunk boundaries, orphans, locks and failed saves.
#include "common/map_file_builder.h"
#include "common/temp_tree.h"
#include "mapfile/map_file.h"
#include "mapfile/map_file_format.h"
#include "scan/drive_class.h"
#include "store/store_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <sys/xattr.h>

namespace {

// C: root { Sub\ { Deep\ { x.exe -> kernel32.dll, user32.dll }, a.txt }, f.txt }, D: root { d.txt }.
class MapFileTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(tree.AddDir("PROG"));
        ASSERT_TRUE(tree.AddDir("WINDOWS"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED | HOST_DRIVE_DOS_ATTRIBUTES, tree.Root().c_str()));
        HostMachine_SetModuleFileName("C:\\PROG\\APP.EXE");
        ResetDriveClassState();
    }
    void TearDown() override { StoreTest::TearDown(), ResetDriveClassState(); }
    std::string MapFile() const { return tree.ReadFile("PROG/PWDRVMAP.DAT"); }
    // The names of the temporary files in the program directory, one per line.
    std::string TemporaryFiles() const {
        std::string names;
        for (const auto &entry : std::filesystem::directory_iterator(tree.Path("PROG")))
            if (entry.path().extension() == ".TMP") names += entry.path().filename().string() + "\n";
        return names;
    }
    void PutMapFile(const std::string &bytes) { ASSERT_TRUE(tree.AddFile("PROG/PWDRVMAP.DAT", bytes)); }
    // A read that must fail with `code` and leave nothing behind.
    void ExpectReadFails(DWORD code) {
        EXPECT_FALSE(DriveMap_ReadAll(0));
        EXPECT_EQ(DriveMap_GetError(), code);
        EXPECT_EQ(std::make_tuple(gLoadedFlag, DWORD{gDriveTable.dwCount}, gMapFile),
                  std::make_tuple(0u, 0u, HFILE_ERROR))
            << "no map, no file left open";
        EXPECT_EQ(HostMachine_GlobalBlockCount(), baseline_) << "blocks of a failed read leaked";
    }
    void ExpectReadSucceeds() {
        ResetTestMap();
        EXPECT_TRUE(DriveMap_ReadAll(0));
        EXPECT_EQ(DriveMap_GetError(), 0u);
        EXPECT_TRUE(CheckMapInvariants());
    }
    // The sample map read from the builder's bytes and marked changed, so that a save writes it.
    void LoadSampleMap() {
        PutMapFile(BuildMapFile(SampleMapDescription()));
        ExpectReadSucceeds();
        gDirtyFlag = 1;
    }
    TempTree tree;
};

TEST_F(MapFileTest, GoldenBytesOfASmallMap) {
    DirectoryBlock *c = BuildDrive('C');
    BuildDirectory(&c, "A");
    ASSERT_TRUE(SaveMap(0, 0));
    const unsigned char golden[] = {
        'N', 'R', 'P', 'S', 3, 1, 2, 0,                                   // header: one drive, next id 2
        'C', 2,   0,   0,   0, 0, 0, 0, 0,                                // C:, two blocks
        0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0,   0, 30, 0, 0, 0, 1, 0,  // root: id 0, 30 bytes, one record
        12,  0,   0,   0,   0, 0, 0, 0, 1, 0, 'A', 0,                     // directory A, child id 1
        0,   0,   0,   0,   0, 0, 0, 0, 1, 0, 0,   0, 18, 0, 0, 0, 0, 0,  // A's block: id 1, parent 0, empty
    };
    EXPECT_EQ(MapFile(), std::string(reinterpret_cast<const char *>(golden), sizeof golden));
}

TEST_F(MapFileTest, DamagedFilesLoadNoMap) {
    const MapFileDescription sample = SampleMapDescription();
    const std::string good = BuildMapFile(sample);
    const size_t root = MapFileBlockOffset(sample, 0);
    auto patched = [&](size_t offset, std::string bytes) {
        return std::string(good).replace(offset, bytes.size(), bytes);
    };
    auto with = [&](auto change) {
        MapFileDescription m = sample;
        change(m);
        return BuildMapFile(m);
    };
    // f.txt, the root's second record, flagged with references and a count of 0.
    std::string zeroRefs = with([](auto &m) { m.drives[0].blocks[0].records[1].references = {"k"}; });
    zeroRefs[root + 18 + 14 + 10 + 6 + 8] = '\0';
    struct Case {
        const char *what;
        std::string bytes;
        DWORD code = DRIVEMAP_FILE_DAMAGED;
    } cases[] = {
        {"empty file", "", DRIVEMAP_OLD_VERSION},
        {"version 2", patched(4, "\x02"), DRIVEMAP_OLD_VERSION},
        {"bad magic", patched(0, "NRPX")},
        {"27 drives", patched(5, "\x1B")},
        {"drive letter twice", patched(17, "C")},
        {"drive with no blocks", with([](auto &m) { m.drives[0].blocks.clear(); })},
        {"fewer blocks than counted", with([](auto &m) { m.drives[1].wBlockCount = 2; })},
        {"bytes after the last block", good + "xyz"},
        {"dwUsed below 18", patched(root + 12, std::string("\x11\0\0\0", 4))},
        {"dwUsed huge", patched(root + 12, "\xF0\xFF\xFF\xFF")},
        {"file ends inside a block", good.substr(0, good.size() - 3)},
        {"more records than bytes", patched(root + 16, "\x03")},
        {"record longer than its content", patched(root + 18, "\x0F")},
        {"record of length 0", patched(root + 18, std::string("\0\0", 2))},
        {"name without its NUL", patched(root + 18 + 13, "X")},
        {"unknown flag bits", patched(root + 18 + 2, "\x40")},
        {"references flagged, count 0", zeroRefs},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ResetTestMap();
        PutMapFile(c.bytes);
        ExpectReadFails(c.code);
    }
    ResetTestMap();
    ASSERT_EQ(0, std::remove(tree.Path("PROG/PWDRVMAP.DAT").c_str()));
    ExpectReadFails(DRIVEMAP_NOT_FOUND);
    PutMapFile(patched(4, "\x04"));  // a later version is read like 3
    ExpectReadSucceeds();
}

// A root padded with file records to `cbRoot` bytes, with one directory whose block follows it.
MapFileDescription PaddedMap(size_t cbRoot) {
    MapFileDescription m;
    MapFileBlock root{0, 0, {DirRecord("Next", 1)}};
    size_t size = 18 + MapFileRecordBytes(root.records[0]).size();
    while (size < cbRoot) {
        // A file record "padN" with one reference is 25 bytes plus the reference.
        const size_t room = cbRoot - size, cbRef = room > 30050 ? 30000 : room - 25;
        root.records.push_back(
            FileRecord("pad" + std::to_string(root.records.size() % 10), 0, {std::string(cbRef, 'r')}));
        size += MapFileRecordBytes(root.records.back()).size();
    }
    m.drives = {{'C', {root, {1, 0, {FileRecord("after.txt")}}}}};
    return m;
}

TEST_F(MapFileTest, BlocksAcrossChunksLargerThanTheBufferOrWithoutMemory) {
    // The second block begins 10 and 30 bytes before the end of the first chunk (its header cut,
    // its records cut); then a root far larger than the read buffer.
    for (size_t cbRoot : {size_t{MAP_READ_CHUNK_SIZE - 10}, size_t{MAP_READ_CHUNK_SIZE - 30}, size_t{200000}}) {
        SCOPED_TRACE(cbRoot);
        const MapFileDescription m = PaddedMap(cbRoot);
        ASSERT_EQ(MapFileBlockOffset(m, 1) - MapFileBlockOffset(m, 0), cbRoot);
        PutMapFile(BuildMapFile(m));
        ExpectReadSucceeds();
        EXPECT_NE(nullptr, FindTestEntry(GetDriveRoot(&gDriveTable.records[0]), "Next\\after.txt"));
    }
    for (unsigned long limit : {0x1000ul, 0x20000ul}) {  // the read buffer; the large block
        SCOPED_TRACE(limit);
        ResetTestMap();
        HostMachine_LimitAllocations(limit);
        ExpectReadFails(DRIVEMAP_NO_MEMORY);
        HostMachine_LimitAllocations(0);
    }
}

TEST_F(MapFileTest, OrphanBlocksAreDroppedWithTheirRecords) {
    // Block 1 (A's) is missing: A's record goes, and so does block 3 below it, which finds no parent.
    MapFileDescription m;
    m.drives = {{'C', {{0, 0, {DirRecord("A", 1), DirRecord("B", 2)}}, {2, 0, {FileRecord("b.txt")}}, {3, 1, {}}}},
                {'D', {{0, 0, {FileRecord("d.txt")}}}}};
    PutMapFile(BuildMapFile(m));
    ExpectReadSucceeds();
    EXPECT_EQ(gDirtyFlag, 1u);
    EXPECT_EQ(GetDriveBlockCount(&gDriveTable.records[0]), 2);
    DirectoryBlock *c = GetDriveRoot(&gDriveTable.records[0]), *d = GetDriveRoot(&gDriveTable.records[1]);
    EXPECT_FALSE(FindTestEntry(c, "A"));
    EXPECT_TRUE(FindTestEntry(c, "B\\b.txt"));
    EXPECT_TRUE(FindTestEntry(d, "d.txt"));
}

TEST_F(MapFileTest, BlocksFindTheFirstRecordCarryingTheirIdInAnyOrder) {
    // Blocks out of their records' order, a grandchild after its uncle, and block 5 twice: the
    // second copy finds the record the first one took (A2's, the first with id 5) and is dropped,
    // and A3's record, whose block never came, goes with it. D loses the record of a block that
    // is not in the file, though no block of D was dropped.
    MapFileDescription m;
    m.drives = {
        {'C',
         {{0, 0, {DirRecord("A2", 5), DirRecord("A3", 5), DirRecord("A1", 2), FileRecord("f"), DirRecord("B", 1)}},
          {5, 0, {FileRecord("first.txt")}},
          {5, 0, {FileRecord("second.txt")}},
          {1, 0, {FileRecord("b.txt"), DirRecord("BB", 4)}},
          {2, 0, {FileRecord("a1.txt")}},
          {4, 1, {FileRecord("bb.txt")}}}},
        {'D', {{0, 0, {DirRecord("Gone", 7), FileRecord("d.txt")}}}}};  // no orphan, a record without block
    PutMapFile(BuildMapFile(m));
    ExpectReadSucceeds();
    DirectoryBlock *c = GetDriveRoot(&gDriveTable.records[0]), *d = GetDriveRoot(&gDriveTable.records[1]);
    EXPECT_FALSE(FindTestEntry(d, "Gone"));
    EXPECT_TRUE(FindTestEntry(d, "d.txt"));
    EXPECT_EQ(GetDriveBlockCount(&gDriveTable.records[0]), 5);
    for (const char *path : {"B\\b.txt", "B\\BB\\bb.txt", "A1\\a1.txt", "A2\\first.txt", "f"})
        EXPECT_TRUE(FindTestEntry(c, path)) << path;
    EXPECT_FALSE(FindTestEntry(c, "A3"));
}

TEST_F(MapFileTest, WhatASaveWritesOrRefuses) {
    // Not dirty: nothing written. Empty map: a header and no drives, loaded back as an empty map.
    EXPECT_TRUE(DriveMap_WriteAll(0, 0));
    EXPECT_FALSE(tree.Exists("PROG/PWDRVMAP.DAT"));
    gDirtyFlag = 1;
    EXPECT_TRUE(DriveMap_WriteAll(0, 0));
    EXPECT_EQ(MapFile(), std::string("NRPS\x03\0\0\0", 8));
    ExpectReadSucceeds();
    EXPECT_EQ(gLoadedFlag, 1u);
    // A file read is written back byte for byte (the golden bytes above fix the layout).
    LoadSampleMap();
    const EntryRecord *x = FindTestEntry(GetDriveRoot(&gDriveTable.records[0]), "Sub\\Deep\\x.exe");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(GetEntryFileSize(x), 4096u);  // read from its field, not only copied through
    ASSERT_TRUE(DriveMap_WriteAll(0, /*lockTest=*/1));
    EXPECT_EQ(DriveMap_GetError(), 0u);
    EXPECT_EQ(gDirtyFlag, 0u);
    EXPECT_EQ(TemporaryFiles(), "");
    EXPECT_EQ(MapFile(), BuildMapFile(SampleMapDescription()));
    // Loaded: a second read does not look at the file.
    PutMapFile("junk");
    EXPECT_TRUE(DriveMap_ReadAll(0));
    // Refused while critical, storing no code.
    gDirtyFlag = 1, gErrorCode = 77;
    SetCritical(1);
    EXPECT_FALSE(DriveMap_WriteAll(0, 0));
    SetCritical(0);
    EXPECT_EQ(gErrorCode, 77u);
    // A block id twice on one drive would load wrong: refused, the map stays dirty.
    SetBlockId(GetDriveRoot(&gDriveTable.records[1]), 3);
    SetBlockId(GetChildBlock(FindTestEntry(GetDriveRoot(&gDriveTable.records[0]), "Sub")), 0);
    EXPECT_FALSE(DriveMap_WriteAll(0, 0));
    EXPECT_EQ(DriveMap_GetError(), DRIVEMAP_WRITE_FAILED);
    EXPECT_EQ(gDirtyFlag, 1u);
    EXPECT_EQ(TemporaryFiles(), "");
    EXPECT_EQ(MapFile(), "junk");
}

TEST_F(MapFileTest, FailedSavesKeepThePreviousFile) {
    HostMachine_SetVersion(0xC3B60004), HostMachine_SetVwin32(1);  // Windows 95: the DOS layer reports locks
    LoadSampleMap();
    PutMapFile("previous");
    HostMachine_SetDriveLocked('C', 1);
    EXPECT_FALSE(DriveMap_WriteAll(0, /*lockTest=*/1));
    EXPECT_EQ(DriveMap_GetError(), DRIVEMAP_VOLUME_LOCKED);
    HostMachine_SetDriveLocked('C', 0xFFFF);
    // The program directory is gone (the temporary file cannot be made); the map file cannot be
    // replaced.
    for (const char *blocker : {"", "PROG/PWDRVMAP.DAT/x"}) {
        SCOPED_TRACE(blocker);
        TempTree other;
        ASSERT_TRUE(other.AddDir(blocker));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, other.Root().c_str()));
        EXPECT_FALSE(DriveMap_WriteAll(0, 0));
        EXPECT_EQ(DriveMap_GetError(), DRIVEMAP_CREATE_FAILED);
        EXPECT_TRUE(other.Exists(blocker));
    }
    ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree.Root().c_str()));
    EXPECT_EQ(MapFile(), "previous");
    EXPECT_EQ(TemporaryFiles(), "");
    EXPECT_EQ(gDirtyFlag, 1u);
    EXPECT_TRUE(CheckMapInvariants());
    EXPECT_TRUE(DriveMap_WriteAll(0, 0));
    EXPECT_EQ(MapFile(), BuildMapFile(SampleMapDescription()));
}

// Every save used to write PWDRVMAP.TMP: a second process saving at the same time renamed the
// other's half-written file into place. A save now writes a file of its own.
TEST_F(MapFileTest, ASaveLeavesAnotherWritersTemporaryFileAlone) {
    LoadSampleMap();
    ASSERT_TRUE(tree.AddFile("PROG/PWDRVMAP.TMP", "half of another save"));
    const int other = open(tree.Path("PROG/PWDRVMAP.TMP").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(DriveMap_WriteAll(0, 0));
    ASSERT_EQ(write(other, " and the rest", 13), 13);  // the other writer goes on
    close(other);
    EXPECT_EQ(MapFile(), BuildMapFile(SampleMapDescription()));
    EXPECT_EQ(tree.ReadFile("PROG/PWDRVMAP.TMP"), "half of another save and the rest");
    EXPECT_EQ(TemporaryFiles(), "PWDRVMAP.TMP\n");
}

TEST_F(MapFileTest, WhereTheMapFileLives) {
    TempTree net;
    ASSERT_TRUE(net.AddDir("APPS"));
    ASSERT_TRUE(net.AddDir("WIN"));
    ASSERT_TRUE(HostMachine_MapDrive('N', DRIVE_REMOTE, net.Root().c_str()));
    const std::string longProgram = "C:\\" + std::string(290, 'd') + "\\app.exe";
    struct Case {
        const char *program, *windows, *expected;
        BOOL outside;
    } cases[] = {
        {"C:\\prog\\app.exe", "C:\\WINDOWS", "C:\\Prog\\PWDRVMAP.DAT", 0},
        {"N:\\APPS\\app.exe", "N:\\WIN", "C:\\PWDRVMAP.DAT", 1},
        {longProgram.c_str(), "C:\\WINDOWS", "C:\\WINDOWS\\PWDRVMAP.DAT", 1},
        {"", "C:\\WINDOWS", "C:\\WINDOWS\\PWDRVMAP.DAT", 1},
        {"N:\\APPS\\app.exe", "C:\\WINDOWS", "C:\\WINDOWS\\PWDRVMAP.DAT", 1},  // the machine of the save below
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program);
        HostMachine_SetModuleFileName(c.program);
        HostMachine_SetWindowsDirectory(c.windows);
        CHAR path[PATH_BUFFER_SIZE];
        EXPECT_EQ(GetMapFilePath(path), c.outside);
        EXPECT_STREQ(path, c.expected);
    }
    // Saved away from the program's directory: hidden.
    gDirtyFlag = 1;
    ASSERT_TRUE(DriveMap_WriteAll(0, 0));
    ASSERT_TRUE(tree.Exists("WINDOWS/PWDRVMAP.DAT"));
    if (getxattr(tree.Path("WINDOWS/PWDRVMAP.DAT").c_str(), "user.DOSATTRIB", nullptr, 0) > 0) {
        EXPECT_NE(GetFileAttributesA("C:\\WINDOWS\\PWDRVMAP.DAT") & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
}

}  // namespace
