// Making new records: headers and tails byte by byte, references, growth under moves and failures,
// whole directory paths, and the reference buffer.
#include "store_fixture.h"

#include "common/exe_builder.h"
#include "common/temp_tree.h"
#include "references/import_scanner.h"
#include "references/never_scanned_list.h"
#include "references/settings_lists.h"
#include "store/add_entry.h"
#include "store/entry_header.h"
#include "store/reference_buffer.h"
#include "support/path_utils.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>

namespace {

// 2024-03-05 10:20:30 as DOS words: the used stamp of every record made here.
const SYSTEMTIME NOW = {2024, 3, 2, 5, 10, 20, 30, 0};
const std::string USED("\x65\x58\x8F\x52", 4);
// 2001-02-03 04:05:06 UTC, the last write of the test files, as DOS words in UTC.
const std::string WRITTEN("\x43\x2A\xA3\x20", 4);

std::string Bytes(const void *p, size_t cb) { return std::string(static_cast<const char *>(p), cb); }

class AddEntryTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (const char *tz = std::getenv("TZ")) savedTz_ = tz;
        setenv("TZ", "UTC", 1), tzset();
        HostMachine_FreezeLocalTime(&NOW);
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree_.Root().c_str()));
        ASSERT_EQ(DRIVEMAP_OK, EnsureReferenceBuffer());
    }
    void TearDown() override {
        FreeScanBuffers(), FreeNeverScannedList(), FreeSystemFilesList();
        savedTz_ ? setenv("TZ", savedTz_->c_str(), 1) : unsetenv("TZ"), tzset();
        StoreTest::TearDown();  // the map release also frees the reference buffer
    }
    // A file of `content` last written at 2001-02-03 04:05:06 UTC (981173106 s after 1970).
    void AddFile(const std::string &relative, const std::string &content) {
        const struct timespec times[2] = {{981173106, 0}, {981173106, 0}};
        ASSERT_TRUE(tree_.AddFile(relative, content));
        ASSERT_EQ(0, utimensat(AT_FDCWD, tree_.Path(relative).c_str(), times, 0));
    }
    std::optional<std::string> savedTz_;
    TempTree tree_;
};

TEST_F(AddEntryTest, DirectoryAndFileRecordsByteByByte) {
    AddFile("Data.TXT", "hello");
    for (const DWORD mode : {MODE_UPDATE, MODE_SYNC}) {
        SCOPED_TRACE(mode);
        const char seen = mode == MODE_SYNC ? ENTRY_SEEN : 0;
        ResetTestMap();
        gOperationMode = mode;
        DirectoryBlock *root = BuildDrive('C');
        gDirtyFlag = 0;
        EntryRecord *dir = AddEntry(root, "Sub", "C:\\Sub", TRUE, 9);
        ASSERT_NE(nullptr, dir);
        root = GetDriveRoot(gCurrentDrive);
        EXPECT_EQ(Bytes(dir, 4), std::string({14, 0, seen, 0}));
        EXPECT_EQ(Bytes(GetEntryName(dir), 4), Bytes("Sub", 4));
        ASSERT_NE(nullptr, GetChildBlock(dir));
        EXPECT_EQ(BLOCK_HEADER_SIZE, GetBlockUsed(GetChildBlock(dir)));
        EXPECT_EQ(2, GetDriveBlockCount(gCurrentDrive));
        EXPECT_EQ(1u, gDirtyFlag);
        EntryRecord *file = AddEntry(root, "Data.TXT", "C:\\Data.TXT", FALSE, 7);
        ASSERT_NE(nullptr, file);
        root = GetDriveRoot(gCurrentDrive);
        std::string head("\x1B\0\0\0\5\0\0\0\7\0Data.TXT\0", 19);  // size 5, usage count 7
        head[2] = static_cast<char>(ENTRY_IS_FILE | seen);
        EXPECT_EQ(head + WRITTEN + USED, Bytes(file, 27));
        EXPECT_EQ(2, GetBlockEntryCount(root));
        EXPECT_EQ(BLOCK_HEADER_SIZE + 14 + 27, GetBlockUsed(root));
        EXPECT_TRUE(CheckMapInvariants());  // the child is linked both ways
    }
}

TEST_F(AddEntryTest, ExecutablesCarryTheirReferencesLowerCased) {
    HostMachine_SetModuleFileName("C:\\App\\HOST.EXE");
    ASSERT_TRUE(tree_.AddFile("App/PURGWELL.DAT", "[NonNEPEFiles]\r\ntxt\r\n"));
    LoadNeverScannedList();
    const std::string three = BuildPeFile({.imports = {"MyLib.DLL", "OTHER.dll", "Third.Dll"}});
    PeFileSpec many;
    std::string first255 = "\xFF";  // bRefCount holds 255 at most
    for (int i = 0; i < 300; ++i) many.imports.push_back("m" + std::to_string(1000 + i) + ".dll");
    for (int i = 0; i < 255; ++i) first255 += "m" + std::to_string(1000 + i) + '\0';
    // refs: the reference part, a count then the names, each with its NUL.
    const struct {
        const char *name;
        std::string content;
        DWORD mode;
        WORD flags;
        std::string refs;
    } cases[] = {
        {"App.exe", three, MODE_SYNC, 0x3F, std::string("\3mylib\0other\0third\0", 19)},
        {"Bare.EXE", BuildPeFile({}), MODE_SYNC, 0x37, ""},
        {"Many.dll", BuildPeFile(many), MODE_UPDATE, 0x2F, first255},
        {"Looks.TXT", three, MODE_UPDATE, 0x01, ""},  // never scanned
    };
    DirectoryBlock *root = BuildDrive('C');
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        AddFile(c.name, c.content);
        gOperationMode = c.mode;
        EntryRecord *file = AddEntry(root, c.name, ("C:\\" + std::string(c.name)).c_str(), FALSE, 0);
        ASSERT_NE(nullptr, file);
        root = GetDriveRoot(gCurrentDrive);
        EXPECT_EQ(c.flags, GetEntryFlags(file));
        EXPECT_EQ(c.content.size(), GetEntryFileSize(file));
        EXPECT_EQ(FILE_RECORD_SIZE(std::strlen(c.name)) + c.refs.size(), GetEntryLength(file));
        const BYTE *part = GetReferencePart(file);
        EXPECT_EQ(c.refs, part ? Bytes(part, c.refs.size()) : "");
        ASSERT_TRUE(CheckMapInvariants());
    }
}

// Every refusal leaves the block exactly as it was, at its address, with no new child block.
TEST_F(AddEntryTest, RefusalsChangeNothing) {
    AddFile("Real.txt", "x");
    ASSERT_TRUE(tree_.AddDir("Folder"));
    DirectoryBlock *root = BuildDrive('C');
    BuildFile(&root, "old.txt");
    const std::string tooLong(ENTRY_NAME_MAX + 1, 'n');
    const unsigned long noGrowth = GetBlockUsed(root) + 8;
    const struct {
        const char *name, *path;
        BOOL isDirectory;
        unsigned long limit;
    } cases[] = {
        {"Missing.txt", "C:\\Missing.txt", FALSE, 0},
        {"Folder", "C:\\Folder", FALSE, 0},  // a directory where a file is asked for
        {tooLong.c_str(), "C:\\x", TRUE, 0},
        {"Real.txt", "C:\\Real.txt", FALSE, noGrowth},
        {"New", "C:\\New", TRUE, noGrowth},
    };
    const WORD blocks = GetDriveBlockCount(gCurrentDrive);
    for (const auto &c : cases) {
        const std::string before = Bytes(root, GetBlockUsed(root));
        gDirtyFlag = 0;
        HostMachine_LimitAllocations(c.limit);
        EXPECT_EQ(nullptr, AddEntry(root, c.name, c.path, c.isDirectory, 0)) << c.path;
        HostMachine_LimitAllocations(0);
        EXPECT_TRUE(root == GetDriveRoot(gCurrentDrive));
        EXPECT_TRUE(before == Bytes(root, GetBlockUsed(root)));
        EXPECT_TRUE(gDirtyFlag == 0);
        EXPECT_TRUE(blocks == GetDriveBlockCount(gCurrentDrive));
        EXPECT_TRUE(CheckMapInvariants());
    }
    EXPECT_EQ(nullptr, AddEntry(nullptr, "Real.txt", "C:\\Real.txt", FALSE, 0));
    const std::string longest(ENTRY_NAME_MAX, 'm');  // the longest name a record takes
    EntryRecord *dir = AddEntry(root, longest.c_str(), "C:\\x", TRUE, 0);
    ASSERT_NE(nullptr, dir);
    EXPECT_EQ(ENTRY_NAME_MAX + 11, GetEntryLength(dir));
}

TEST_F(AddEntryTest, EnsureDirectoryPathMakesEachLevelOnce) {
    ASSERT_NE(nullptr, gCurrentDrive = AddDriveRecord("C:\\"));
    DirectoryBlock *last = EnsureDirectoryPath("C:\\One\\Two\\Three");
    ASSERT_TRUE(last);
    EXPECT_EQ(4, GetDriveBlockCount(gCurrentDrive));
    EXPECT_EQ(last, GetChildBlock(FindTestEntry(GetDriveRoot(gCurrentDrive), "one\\TWO\\three")));
    EXPECT_EQ(last, EnsureDirectoryPath("C:\\one\\two\\three\\"));
    const std::string tooLong = "C:\\One\\" + std::string(400, 'x') + "\\y";
    EXPECT_EQ(nullptr, EnsureDirectoryPath(tooLong.c_str()));
    HostMachine_LimitAllocations(BLOCK_HEADER_SIZE - 1);
    EXPECT_EQ(nullptr, EnsureDirectoryPath("C:\\One\\New"));
    HostMachine_LimitAllocations(0);
    EXPECT_TRUE(GetDriveBlockCount(gCurrentDrive) == 4);
    EXPECT_TRUE(CheckMapInvariants());
    gCurrentDrive = nullptr;
    EXPECT_EQ(nullptr, EnsureDirectoryPath("C:\\One"));
}

}  // namespace
