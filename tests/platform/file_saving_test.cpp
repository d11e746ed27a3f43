// What a save that must survive crashes relies on: temporary files made once, flushes through an
// HFILE, renames written through, and file positions kept by the layer.
#include "common/drive_c_test.h"

#include <cstdio>
#include <string>

namespace {

using FileSaving = DriveCTest;

TEST_F(FileSaving, TempFileNamesAreCreatedOnceOrOnlyFormed) {
    ASSERT_TRUE(tree_.AddDir("d"));
    char name[MAX_PATH], expected[MAX_PATH];
    const UINT number = GetTempFileNameA("C:\\d", "PWDX", 0, name);  // three characters of the prefix
    ASSERT_NE(number, 0u);
    EXPECT_LE(number, 0xFFFFu);
    snprintf(expected, sizeof expected, "C:\\d\\PWD%X.TMP", number);
    EXPECT_STREQ(name, expected);
    EXPECT_TRUE(tree_.Exists(std::string("d/") + (name + 5)));
    EXPECT_EQ(tree_.ReadFile(std::string("d/") + (name + 5)), "");
    const UINT other = GetTempFileNameA("C:\\d\\", "PWD", 0, name);
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, number);

    // A given number only forms the name.
    EXPECT_EQ(GetTempFileNameA("C:\\d", "~t", 0x1234A, name), 0x1234Au);
    EXPECT_STREQ(name, "C:\\d\\~t234A.TMP");
    EXPECT_FALSE(tree_.Exists("d/~t234A.TMP"));

    SetLastError(0);
    EXPECT_EQ(GetTempFileNameA("C:\\missing", "PWD", 0, name), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
    EXPECT_EQ(GetTempFileNameA("C:\\d", "a:b", 0, name), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
}

TEST_F(FileSaving, FlushesTakeWritableHfilesAndRenamesWriteThrough) {
    HFILE file = _lcreat("C:\\new.tmp", 0);
    ASSERT_NE(file, HFILE_ERROR);
    ASSERT_EQ(_lwrite(file, "map", 3), 3u);
    EXPECT_TRUE(FlushFileBuffers((HANDLE)(INT_PTR)file));
    _lclose(file);
    SetLastError(0);
    EXPECT_FALSE(FlushFileBuffers((HANDLE)(INT_PTR)file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    file = _lopen("C:\\new.tmp", OF_READ);
    EXPECT_FALSE(FlushFileBuffers((HANDLE)(INT_PTR)file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    _lclose(file);

    ASSERT_TRUE(tree_.AddFile("map.dat", "old"));
    ASSERT_TRUE(tree_.AddDir("sub"));
    EXPECT_TRUE(MoveFileExA("C:\\new.tmp", "C:\\map.dat", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(tree_.ReadFile("map.dat"), "map");
    EXPECT_FALSE(tree_.Exists("new.tmp"));
    EXPECT_TRUE(MoveFileExA("C:\\map.dat", "C:\\sub\\map.dat", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(tree_.ReadFile("sub/map.dat"), "map");
}

// The layer keeps each file's position itself: seeks, reads and writes in any order land where the
// kernel's position would, and a file grown by another writer after the open is read to its end.
TEST_F(FileSaving, PositionsFollowReadsWritesAndSeeks) {
    ASSERT_TRUE(tree_.AddFile("f.dat", "0123456789"));
    HFILE file = _lopen("C:\\f.dat", OF_READWRITE);
    ASSERT_NE(file, HFILE_ERROR);
    char buffer[32] = {};
    EXPECT_EQ(_lread(file, buffer, 4), 4u);
    EXPECT_EQ(_llseek(file, 0, FILE_CURRENT), 4);
    EXPECT_EQ(_llseek(file, 0, FILE_BEGIN), 0);
    EXPECT_EQ(_lread(file, buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "012");
    EXPECT_EQ(_lwrite(file, "ab", 2), 2u);
    EXPECT_EQ(_llseek(file, 0, FILE_CURRENT), 5);
    EXPECT_EQ(_lwrite(file, "", 0), 0u);  // truncates at the position
    EXPECT_EQ(tree_.ReadFile("f.dat"), "012ab");
    EXPECT_EQ(_llseek(file, 2, FILE_BEGIN), 2);
    FILE *other = fopen(tree_.Path("f.dat").c_str(), "a");
    ASSERT_NE(other, nullptr);
    fputs("XYZ", other), fclose(other);
    EXPECT_EQ(_lread(file, buffer, sizeof buffer), 6u);
    EXPECT_EQ(std::string(buffer, 6), "2abXYZ");
    EXPECT_EQ(_llseek(file, 0, FILE_END), 8);
    EXPECT_EQ(_lread(file, buffer, sizeof buffer), 0u);
    EXPECT_EQ(_lclose(file), 0);
}

}  // namespace
