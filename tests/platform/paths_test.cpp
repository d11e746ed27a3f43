// Drive table, current directories, GetFullPathNameA and resolution of Windows paths.
#include "platform/file_system_fixture.h"

#include <string.h>

using Paths = FileSystemTest;

TEST_F(Paths, DriveTypesAndLogicalDrives) {
    ASSERT_TRUE(HostMachine_MapDrive('a', DRIVE_REMOVABLE, nullptr));  // no medium
    ASSERT_TRUE(tree.AddDir("data"));
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\data"));
    EXPECT_FALSE(HostMachine_MapDrive('1', DRIVE_FIXED, tree.Root().c_str()));
    EXPECT_FALSE(HostMachine_MapDrive('D', 99, tree.Root().c_str()));
    EXPECT_FALSE(HostMachine_MapDrive('D', DRIVE_FIXED, (tree.Root() + "/missing").c_str()));
    EXPECT_FALSE(HostMachine_SubstDrive('T', "data"));
    const struct { const char *root; UINT type; } types[] = {
        {"C:\\", DRIVE_FIXED},       {"c:", DRIVE_FIXED},        {"s:\\", DRIVE_FIXED},
        {nullptr, DRIVE_FIXED},  // C was mapped first: current
        {"A:\\", DRIVE_REMOVABLE},   {"Q:\\", DRIVE_NO_ROOT_DIR}, {"C:\\data", DRIVE_NO_ROOT_DIR}};
    for (const auto &t : types) EXPECT_EQ(GetDriveTypeA(t.root), t.type) << (t.root ? t.root : "null");
    SetLastError(0);
    EXPECT_EQ(_lopen("A:\\x", OF_READ), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
    HostMachine_Reset();
    EXPECT_EQ(GetDriveTypeA("C:\\"), (UINT)DRIVE_NO_ROOT_DIR);
}

TEST_F(Paths, FullPathNames) {
    ASSERT_TRUE(tree.AddDir("dir/sub") && tree.AddDir("data"));
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, tree.Path("dir").c_str()) && HostMachine_SubstDrive('S', "C:\\data\\"));
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\sub") && SetCurrentDirectoryA("C:\\dir"));
    const struct { const char *in, *out; } cases[] = {
        {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"}, {"c:/x//y", "C:\\x\\y"},   {"foo", "C:\\dir\\foo"},
        {"\\foo", "C:\\foo"},               {"D:foo", "D:\\sub\\foo"}, {"D:", "D:\\sub"},
        {"C:\\..\\..", "C:\\"},             {"C:\\a\\b\\", "C:\\a\\b\\"}, {"C:\\a\\name. .", "C:\\a\\name"},
        {"S:\\x\\*.*", "C:\\data\\x\\*.*"}, {"S:\\", "C:\\data"},      {"..\\up", "C:\\up"},
    };
    for (const auto &c : cases) {
        char buffer[300];
        char *filePart = nullptr;
        const DWORD length = GetFullPathNameA(c.in, sizeof buffer, buffer, &filePart);
        const char *slash = strrchr(buffer, '\\');
        EXPECT_STREQ(buffer, c.out) << c.in;
        EXPECT_TRUE(length == strlen(c.out) && filePart == (slash[1] ? slash + 1 : nullptr)) << c.in;
    }
    // Too small: the size needed including the NUL, nothing written past the buffer.
    char small[8];
    memset(small, 'x', sizeof small);
    EXPECT_TRUE(GetFullPathNameA("C:\\dir\\file.txt", 8, small, nullptr) == 16u && small[7] == 'x');
    EXPECT_EQ(GetFullPathNameA("C:\\dir\\file.txt", 0, nullptr, nullptr), 16u);
    char buffer[400];
    std::string tooLong = "C:\\" + std::string(297, 'a');  // 300 characters
    SetLastError(0);
    EXPECT_EQ(GetFullPathNameA(tooLong.c_str(), sizeof buffer, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(GetFullPathNameA(std::string(300, 'r').c_str(), sizeof buffer, buffer, nullptr), 0u);
}

TEST_F(Paths, CurrentDirectoryPerDrive) {
    ASSERT_TRUE(tree.AddDir("one/Two") && tree.AddDir("d/sub") && tree.AddFile("file.txt"));
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, tree.Path("d").c_str()) && HostMachine_MapDrive('A', DRIVE_REMOVABLE, nullptr));
    char buffer[300];
    auto Cwd = [&] { return GetCurrentDirectoryA(sizeof buffer, buffer) ? std::string(buffer) : "<failed>"; };
    EXPECT_TRUE(GetCurrentDirectoryA(sizeof buffer, buffer) == 3 && std::string(buffer) == "C:\\");
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\ONE\\two\\"));
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\ONE\\two");  // as spelled, drive letter upper case
    EXPECT_EQ(GetCurrentDirectoryA(5, buffer), 11u);
    ASSERT_TRUE(SetCurrentDirectoryA("D:sub"));
    EXPECT_EQ(Cwd(), "D:\\sub");
    ASSERT_TRUE(SetCurrentDirectoryA("C:"));  // back to C's remembered directory
    EXPECT_EQ(Cwd(), "C:\\ONE\\two");
    EXPECT_EQ(Resolve("..\\file.txt"), tree.Path("one/file.txt"));
    EXPECT_EQ(Resolve("D:x"), tree.Path("d/sub/x"));
    const struct { const char *path; DWORD error; } failures[] = {
        {"C:\\missing", ERROR_PATH_NOT_FOUND}, {"C:\\missing\\deeper", ERROR_PATH_NOT_FOUND},
        {"C:\\file.txt", ERROR_DIRECTORY},     {"Q:", ERROR_INVALID_DRIVE},
        {"A:", ERROR_NOT_READY},               {"A:\\", ERROR_NOT_READY},
    };
    for (const auto &f : failures) {
        SetLastError(0);
        EXPECT_FALSE(SetCurrentDirectoryA(f.path)) << f.path;
        EXPECT_EQ(GetLastError(), f.error) << f.path;
    }
    EXPECT_EQ(Cwd(), "C:\\ONE\\two");
}

TEST_F(Paths, CaseInsensitiveAndShortNameResolution) {
    // "caf\xe9.txt" in code page 1252 bytes, as a Windows name would be.
    for (const char *file : {"Readme.TXT", "caf\xe9.txt", "abc", "ABC", "Program Files/Long File Name.text"})
        ASSERT_TRUE(tree.AddFile(file));
    ASSERT_TRUE(tree.AddDir("data/deep") && HostMachine_SubstDrive('S', "C:\\DATA"));
    const struct { const char *path, *host; } cases[] = {
        {"C:\\README.txt", "Readme.TXT"}, {"C:\\CAF\xc9.TXT", "caf\xe9.txt"},
        {"c:\\abc", "abc"}, {"C:\\ABC", "ABC"},  // an exact match wins over the other case
        {"C:\\Abc", "ABC"},                     // no exact match: the first by bytes
        {"C:\\PROGRA~1\\LONGFI~1.TEX", "Program Files/Long File Name.text"},
        {"C:\\program files\\new.txt", "Program Files/new.txt"}, {"S:\\Deep", "data/deep"}, {"C:\\", ""},
        {"C:\\missing\\x", nullptr}, {"C:\\Readme.TXT\\x", nullptr} /* a file is no directory */, {"Q:\\x", nullptr},
    };
    for (const auto &c : cases) EXPECT_EQ(Resolve(c.path), c.host ? tree.Path(c.host) : "") << c.path;
    char host[8];
    EXPECT_EQ(HostMachine_ResolvePath("C:\\Readme.TXT", host, sizeof host), 0);  // does not fit
    std::string longPath = "C:";
    while (longPath.size() < 300) longPath += "\\abcdefgh";
    SetLastError(0);
    EXPECT_EQ(_lopen(longPath.c_str(), OF_READ), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((longPath + "\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
}
