// The _lopen family, DeleteFileA and CreateDirectoryA.
#include "platform/file_system_fixture.h"

#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using FileHandles = FileSystemTest;

// The last-error value a call leaves; the call must return `failure`.
template <typename Call>
static DWORD ErrorOf(Call call, int failure = HFILE_ERROR) {
    SetLastError(0);
    EXPECT_EQ(call(), failure);
    return GetLastError();
}

TEST_F(FileHandles, CreateWriteSeekTruncateRead) {
    HFILE h = _lcreat("C:\\New.txt", 0);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_lwrite(h, "hello world", 11), 11u);
    EXPECT_EQ(_llseek(h, 0, FILE_END), 11);
    EXPECT_EQ(_llseek(h, -5, FILE_CURRENT), 6);
    EXPECT_EQ(_lwrite(h, "", 0), 0u);  // truncates at the position
    SetLastError(0);
    EXPECT_EQ(_llseek(h, -7, FILE_CURRENT), HFILE_ERROR);
    EXPECT_EQ(_llseek(h, 0, FILE_CURRENT), 6);  // unchanged by the failed seek
    EXPECT_EQ(_llseek(h, 0, 7), HFILE_ERROR);
    EXPECT_EQ(_lclose(h), 0);
    EXPECT_EQ(tree.ReadFile("New.txt"), "hello ");

    h = _lopen("c:\\NEW.TXT", OF_READ | OF_SHARE_DENY_WRITE);
    ASSERT_NE(h, HFILE_ERROR);
    char buffer[32] = {};
    EXPECT_EQ(_lread(h, buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "hello ");
    EXPECT_EQ(_hread(h, buffer, 10), 0);
    EXPECT_EQ(_llseek(h, 1, FILE_BEGIN), 1);
    EXPECT_EQ(_hread(h, buffer, 3), 3);
    EXPECT_EQ(memcmp(buffer, "ell", 3), 0);
    EXPECT_EQ(_lwrite(h, "x", 1), (UINT)HFILE_ERROR);  // opened for reading
    EXPECT_EQ(_lclose(h), 0);

    SetLastError(0);
    EXPECT_EQ(_lclose(h), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(_lread(h, buffer, 1), (UINT)HFILE_ERROR);
    EXPECT_EQ(_lread(0, buffer, 1), (UINT)HFILE_ERROR);  // not opened here

    h = _lopen("C:\\new.txt", OF_READWRITE);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_llseek(h, 0, FILE_END), 6);
    EXPECT_EQ(_hwrite(h, "again", 5), 5);
    HostMachine_Reset();  // closes what is still open
    EXPECT_EQ(_lclose(h), HFILE_ERROR);
    EXPECT_EQ(tree.ReadFile("New.txt"), "hello again");
}

TEST_F(FileHandles, OpenAndCreateFailures) {
    ASSERT_TRUE(tree.AddDir("dir"));
    ASSERT_TRUE(tree.AddFile("ro.txt", "keep"));
    chmod(tree.Path("ro.txt").c_str(), 0444);
    EXPECT_EQ(ErrorOf([] { return _lopen("C:\\missing.txt", OF_READ); }), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return _lopen("C:\\nodir\\x.txt", OF_READ); }), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return _lopen("C:\\dir", OF_READ); }), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([] { return _lopen("C:\\ro.txt", OF_WRITE); }), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([] { return _lopen("C:\\ro.txt", 3); }), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ErrorOf([] { return _lopen("Q:\\x.txt", OF_READ); }), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return _lcreat("C:\\ro.txt", 0); }), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([] { return _lcreat("C:\\nodir\\x.txt", 0); }), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return _lcreat("C:\\dir", 0); }), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(tree.ReadFile("ro.txt"), "keep");

    // Attribute 1: read-only file with a writable handle; 2: hidden, and a hidden file is only
    // replaced by a hidden one.
    HFILE h = _lcreat("C:\\made.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_lwrite(h, "abc", 3), 3u);
    _lclose(h);
    struct stat st;
    ASSERT_EQ(stat(tree.Path("made.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    ASSERT_TRUE(SetFileAttributesA("C:\\made.txt", FILE_ATTRIBUTE_HIDDEN));
    if (getxattr(tree.Path("made.txt").c_str(), "user.DOSATTRIB", nullptr, 0) > 0) {
        EXPECT_EQ(_lcreat("C:\\made.txt", 0), HFILE_ERROR);
        h = _lcreat("C:\\made.txt", FILE_ATTRIBUTE_HIDDEN);
        EXPECT_NE(h, HFILE_ERROR);
        _lclose(h);
    }
}

TEST_F(FileHandles, DeleteAndCreateDirectory) {
    ASSERT_TRUE(tree.AddFile("dir/file.txt"));
    ASSERT_TRUE(tree.AddFile("ro.txt"));
    chmod(tree.Path("ro.txt").c_str(), 0444);

    EXPECT_TRUE(CreateDirectoryA("C:\\DIR\\New", nullptr));
    EXPECT_TRUE(tree.Exists("dir/New"));
    EXPECT_EQ(ErrorOf([] { return CreateDirectoryA("C:\\dir\\new", nullptr); }, FALSE), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf([] { return CreateDirectoryA("C:\\none\\new", nullptr); }, FALSE), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return DeleteFileA("C:\\dir"); }, FALSE), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([] { return DeleteFileA("C:\\ro.txt"); }, FALSE), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf([] { return DeleteFileA("C:\\dir\\none.txt"); }, FALSE), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf([] { return DeleteFileA("C:\\dir\\*.txt"); }, FALSE), (DWORD)ERROR_INVALID_NAME);

    EXPECT_TRUE(DeleteFileA("c:\\dir\\FILE.TXT"));
    EXPECT_FALSE(tree.Exists("dir/file.txt"));
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", 0));
    EXPECT_TRUE(DeleteFileA("C:\\ro.txt"));
}
