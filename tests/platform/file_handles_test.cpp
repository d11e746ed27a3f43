// The _lopen family and DeleteFileA.
#include "platform/file_system_fixture.h"

#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using FileHandles = FileSystemTest;

TEST_F(FileHandles, CreateWriteSeekTruncateRead) {
    HFILE h = _lcreat("C:\\New.txt", 0);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_hwrite(h, "hello world", 11), 11);
    EXPECT_EQ(_llseek(h, 0, FILE_END), 11);
    EXPECT_EQ(_llseek(h, -5, FILE_CURRENT), 6);
    EXPECT_EQ(_lwrite(h, "", 0), 0u);  // truncates at the position
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
    EXPECT_TRUE(_hread(h, buffer, 3) == 3 && memcmp(buffer, "ell", 3) == 0);
    EXPECT_EQ(_hwrite(h, "x", 1), HFILE_ERROR);  // opened for reading
    EXPECT_EQ(_lclose(h), 0);
    SetLastError(0);
    EXPECT_EQ(_lclose(h), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_TRUE(_lread(h, buffer, 1) == (UINT)HFILE_ERROR && _lread(0, buffer, 1) == (UINT)HFILE_ERROR);

    h = _lopen("C:\\new.txt", OF_READWRITE);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_llseek(h, 0, FILE_END), 6);
    EXPECT_EQ(_hwrite(h, "again", 5), 5);
    HostMachine_Reset();  // closes what is still open
    EXPECT_EQ(_lclose(h), HFILE_ERROR);
    EXPECT_EQ(tree.ReadFile("New.txt"), "hello again");
}

TEST_F(FileHandles, OpenCreateAndDeleteFailures) {
    ASSERT_TRUE(tree.AddFile("dir/file.txt") && tree.AddFile("ro.txt", "keep"));
    chmod(tree.Path("ro.txt").c_str(), 0444);
    const struct { HFILE (*call)(); DWORD error; } failures[] = {
        {[] { return _lopen("C:\\missing.txt", OF_READ); }, ERROR_FILE_NOT_FOUND},
        {[] { return _lopen("C:\\nodir\\x.txt", OF_READ); }, ERROR_PATH_NOT_FOUND},
        {[] { return _lopen("C:\\dir", OF_READ); }, ERROR_ACCESS_DENIED},
        {[] { return _lopen("C:\\ro.txt", OF_WRITE); }, ERROR_ACCESS_DENIED},
        {[] { return _lopen("C:\\ro.txt", 3); }, ERROR_INVALID_PARAMETER},
        {[] { return _lopen("Q:\\x.txt", OF_READ); }, ERROR_PATH_NOT_FOUND},
        {[] { return _lcreat("C:\\ro.txt", 0); }, ERROR_ACCESS_DENIED},
        {[] { return _lcreat("C:\\nodir\\x.txt", 0); }, ERROR_PATH_NOT_FOUND},
        {[] { return _lcreat("C:\\dir", 0); }, ERROR_ACCESS_DENIED},
        {[] { return DeleteFileA("C:\\dir") - 1; }, ERROR_ACCESS_DENIED},
        {[] { return DeleteFileA("C:\\ro.txt") - 1; }, ERROR_ACCESS_DENIED},
        {[] { return DeleteFileA("C:\\dir\\none.txt") - 1; }, ERROR_FILE_NOT_FOUND},
        {[] { return DeleteFileA("C:\\dir\\*.txt") - 1; }, ERROR_INVALID_NAME},
    };
    for (size_t i = 0; i < std::size(failures); ++i) {
        SetLastError(0);
        EXPECT_EQ(failures[i].call(), HFILE_ERROR) << "case " << i;
        EXPECT_EQ(GetLastError(), failures[i].error) << "case " << i;
    }
    EXPECT_EQ(tree.ReadFile("ro.txt"), "keep");
    EXPECT_TRUE(DeleteFileA("c:\\dir\\FILE.TXT") && !tree.Exists("dir/file.txt"));
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", 0));
    EXPECT_TRUE(DeleteFileA("C:\\ro.txt"));

    // Attribute 1: read-only file with a writable handle; 2: hidden, and a hidden file is only
    // replaced by a hidden one.
    HFILE h = _lcreat("C:\\made.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(h, HFILE_ERROR);
    EXPECT_EQ(_hwrite(h, "abc", 3), 3);
    _lclose(h);
    struct stat st;
    ASSERT_EQ(stat(tree.Path("made.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    ASSERT_TRUE(SetFileAttributesA("C:\\made.txt", FILE_ATTRIBUTE_HIDDEN));
    if (getxattr(tree.Path("made.txt").c_str(), "user.DOSATTRIB", nullptr, 0) > 0) {
        EXPECT_EQ(_lcreat("C:\\made.txt", 0), HFILE_ERROR);
        EXPECT_NE(h = _lcreat("C:\\made.txt", FILE_ATTRIBUTE_HIDDEN), HFILE_ERROR);
        _lclose(h);
    }
}
