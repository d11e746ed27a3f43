// FindFirstFileA/FindNextFileA: wildcards, short names, attributes, times, links, special files,
// other file systems and unreadable directories.
#include "platform/file_system_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using FindFiles = FileSystemTest;
using Strings = std::vector<std::string>;

TEST_F(FindFiles, WildcardsMatchLikeWindows) {
    for (const char *name : {"a.txt", "b.doc", "noext", "readme.TXT", "archive.tar.gz", "Long Name.html"})
        ASSERT_TRUE(tree.AddFile(std::string("dir/") + name));
    const struct { const char *pattern; Strings names; DWORD error = 0; } cases[] = {
        {"C:\\dir\\*.txt", {"a.txt", "readme.TXT"}}, {"C:\\dir\\*.", {".", "..", "noext"}},
        {"C:\\DIR\\?.TXT", {"a.txt"}},               {"C:\\dir\\noext.*", {"noext"}},
        {"C:\\dir\\*.gz", {"archive.tar.gz"}},        {"C:\\dir\\READme.txt", {"readme.TXT"}},
        {"C:\\dir\\*.htm", {"Long Name.html"}},  // through LONGNA~1.HTM
        {"C:\\dir\\LONGNA~1.HTM", {"Long Name.html"}},
        {"C:\\*.*", {"dir"}},  // no "." or ".." in a root
        {"C:\\dir\\*.xyz", {}, ERROR_FILE_NOT_FOUND}, {"C:\\nodir\\*.*", {}, ERROR_PATH_NOT_FOUND},
        {"C:\\di*\\*.*", {}, ERROR_INVALID_NAME},
    };
    for (const auto &c : cases) {
        lastError = 0;
        EXPECT_EQ(Names(c.pattern), c.names) << c.pattern;
        EXPECT_EQ(lastError, c.error) << c.pattern;
    }
    EXPECT_EQ(Names("C:\\dir\\*.*").size(), 8u);
    EXPECT_EQ(Names("C:\\dir\\*"), Names("C:\\dir\\*.*"));
}

TEST_F(FindFiles, ShortNamesAreGeneratedAndStable) {
    // In creation order: Program Data gets ~1 though it comes second.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Program Files", "PROGRA~2"}, {"Program Data", "PROGRA~1"}, {"readme.txt", ""},
        {".profile", "PROFIL~1"},      {"a+b.text", "A_B~1.TEX"},    {"LONGNA~1.TXT", ""},
        {"longname1.txt", "LONGNA~2.TXT"},  // ~1 is taken by a real name
        {"x.y.z", "XY~1.Z"}};
    for (const auto &[name, shortName] : names) ASSERT_TRUE(tree.AddFile("d/" + name));
    auto shortNames = [&] {
        std::map<std::string, std::string> found;
        for (const auto &[name, data] : ByName("C:\\d\\*"))
            if (name != "." && name != ".." && name != "unrelated file") found[name] = data.cAlternateFileName;
        return found;
    };
    const std::map<std::string, std::string> expected(names.begin(), names.end());
    EXPECT_EQ(shortNames(), expected);
    ASSERT_TRUE(tree.AddFile("d/unrelated file"));
    EXPECT_EQ(shortNames(), expected);
}

// Looking a long name up by itself gives the short name the listing gives, also in a directory
// old enough for its short names to be cached between lookups.
TEST_F(FindFiles, SingleLookupsAgreeWithTheListing) {
    ASSERT_TRUE(HostMachine_MapDrive('Z', DRIVE_FIXED, "/usr/include"));
    int checked = 0;
    for (const WIN32_FIND_DATAA &listed : Find("Z:\\*.*")) {
        if (listed.cAlternateFileName[0] == '\0' || ++checked > 20) continue;
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<WIN32_FIND_DATAA> single = Find(std::string("Z:\\") + listed.cFileName);
            ASSERT_EQ(single.size(), 1u) << listed.cFileName;
            EXPECT_STREQ(single[0].cAlternateFileName, listed.cAlternateFileName);
        }
        EXPECT_EQ(Names(std::string("Z:\\") + listed.cAlternateFileName), Strings{listed.cFileName});
    }
    if (checked == 0) GTEST_SKIP() << "no long names in /usr/include";
}

TEST_F(FindFiles, AttributesTimesAndSizes) {
    ASSERT_TRUE(tree.AddFile("d/plain.txt", "12345") && tree.AddFile("d/locked.txt") && tree.AddFile("d/.hidden"));
    ASSERT_TRUE(tree.AddFile("d/big") && tree.AddDir("d/sub"));
    chmod(tree.Path("d/locked.txt").c_str(), 0444);
    std::filesystem::resize_file(tree.Path("d/big"), 0x140000005ULL);  // sparse, 5 GiB + 5
    struct timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, tree.Path("d/plain.txt").c_str(), times, 0), 0);
    auto found = ByName("C:\\d\\*.*");
    const std::map<std::string, DWORD> attributes = {
        {"plain.txt", FILE_ATTRIBUTE_NORMAL}, {"locked.txt", FILE_ATTRIBUTE_READONLY},
        {".hidden", FILE_ATTRIBUTE_HIDDEN},   {"sub", FILE_ATTRIBUTE_DIRECTORY}, {".", FILE_ATTRIBUTE_DIRECTORY}};
    for (const auto &[name, attribute] : attributes) EXPECT_EQ(found[name].dwFileAttributes, attribute) << name;
    EXPECT_EQ(found["plain.txt"].nFileSizeLow, 5u);
    EXPECT_TRUE(found["big"].nFileSizeHigh == 1 && found["big"].nFileSizeLow == 0x40000005u);
    const uint64_t ticks = (1000000000ULL + 11644473600ULL) * 10000000ULL + 1234567;
    for (const FILETIME &ft : {found["plain.txt"].ftLastWriteTime, found["plain.txt"].ftLastAccessTime})
        EXPECT_EQ((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, ticks);

    // Read-only through the permissions, hidden through user.DOSATTRIB where the file system has it.
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\plain.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    struct stat st;
    ASSERT_EQ(stat(tree.Path("d/plain.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    const bool xattrs = getxattr(tree.Path("d/plain.txt").c_str(), "user.DOSATTRIB", nullptr, 0) > 0;
    EXPECT_EQ(GetFileAttributesA("C:\\D\\PLAIN.TXT"), (DWORD)(FILE_ATTRIBUTE_READONLY | (xattrs ? FILE_ATTRIBUTE_HIDDEN : 0)));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\plain.txt", 0));
    EXPECT_EQ(GetFileAttributesA("C:\\d\\plain.txt"), (DWORD)FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(SetFileAttributesA("C:\\d\\none", 0));
}

TEST_F(FindFiles, LinksAreListedNotFollowed) {
    ASSERT_TRUE(tree.AddFile("d/target.txt", "data") && tree.AddDir("d/realdir"));
    const char *links[][2] = {{"dirlink", "realdir"}, {"filelink", "target.txt"}, {"loop", "loop"}, {"dangling", "nowhere"}};
    for (const auto &link : links) ASSERT_TRUE(tree.AddSymlink(std::string("d/") + link[0], link[1]));
    auto found = ByName("C:\\d\\*");
    for (const auto &link : links) EXPECT_EQ(found[link[0]].dwFileAttributes, (DWORD)FILE_ATTRIBUTE_REPARSE_POINT) << link[0];
    EXPECT_TRUE(Names("C:\\d\\dirlink\\*").empty());
    EXPECT_EQ(lastError, (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\d\\dirlink"));
    EXPECT_TRUE(_lopen("C:\\d\\filelink", OF_READ) == HFILE_ERROR && _lopen("C:\\d\\loop", OF_READ) == HFILE_ERROR);
    EXPECT_EQ(_lcreat("C:\\d\\dangling", 0), HFILE_ERROR);
    EXPECT_FALSE(tree.Exists("nowhere"));
    EXPECT_TRUE(DeleteFileA("C:\\d\\filelink") && !tree.Exists("d/filelink") && tree.ReadFile("d/target.txt") == "data");
    EXPECT_TRUE(DeleteFileA("C:\\d\\loop"));
}

TEST_F(FindFiles, SpecialFilesAreListedButNeverOpened) {
    ASSERT_TRUE(tree.AddFifo("d/fifo"));
    EXPECT_EQ(Names("C:\\d\\*"), (Strings{".", "..", "fifo"}));
    EXPECT_EQ(ByName("C:\\d\\fifo")["fifo"].dwFileAttributes, (DWORD)FILE_ATTRIBUTE_NORMAL);
    // Opening a FIFO without a writer would block; these must return at once.
    SetLastError(0);
    EXPECT_EQ(_lopen("C:\\d\\fifo", OF_READ), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(_lopen("C:\\d\\fifo", OF_WRITE) == HFILE_ERROR && _lcreat("C:\\d\\fifo", 0) == HFILE_ERROR);
    ASSERT_TRUE(HostMachine_MapDrive('Z', DRIVE_FIXED, "/"));
    EXPECT_EQ(_lopen("Z:\\dev\\null", OF_READ), HFILE_ERROR);
}

TEST_F(FindFiles, OtherFileSystemsAreNotListed) {
    struct stat root, proc;
    if (stat("/", &root) != 0 || stat("/proc", &proc) != 0 || root.st_dev == proc.st_dev)
        GTEST_SKIP() << "/proc is not a separate file system here";
    ASSERT_TRUE(HostMachine_MapDrive('Z', DRIVE_FIXED, "/"));
    const Strings names = Names("Z:\\*.*");
    EXPECT_EQ(std::count(names.begin(), names.end(), "proc"), 0);
    EXPECT_TRUE(Names("Z:\\proc\\*").empty());
    EXPECT_EQ(lastError, (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(FindFiles, UnreadableDirectoryListsAsEmpty) {
    ASSERT_TRUE(tree.AddFile("locked/inside.txt"));
    ASSERT_EQ(chmod(tree.Path("locked").c_str(), 0), 0);
    auto check = [&] {
        return Names("C:\\*") == Strings{"locked"} && Names("C:\\locked\\*.*").empty() && lastError == ERROR_FILE_NOT_FOUND;
    };
    if (geteuid() != 0) { EXPECT_TRUE(check()); return; }
    // Root reads a mode-000 directory; drop privileges in a child to see what a user sees.
    ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0 ? 2 : check() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
