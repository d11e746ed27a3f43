// File system helpers on a temporary tree mapped as drive C: existence tests and true-case paths.
#include <gtest/gtest.h>

#include "common/drive_c_test.h"
#include "support/file_system.h"
#include "support/limits.h"

#include <string.h>

#include <string>

namespace {

class FileSystemHelpers : public DriveCTest {
protected:
    void SetUp() override {
        DriveCTest::SetUp();
        ASSERT_TRUE(tree_.AddFile("Dir/README.TXT", "text"));
        ASSERT_TRUE(tree_.AddDir("Dir/Sub"));
        ASSERT_TRUE(tree_.AddFile("Long File Name.txt"));
        ASSERT_TRUE(tree_.AddFile(".profile"));
        ASSERT_TRUE(tree_.AddDir(".config"));
    }
};

// DirectoryExists modifies its argument during the call: on a copy, which must end as it began.
DWORD DirectoryExistsOf(const char *path) {
    char text[PATH_BUFFER_SIZE];
    DWORD answer = DirectoryExists(strcpy(text, path));
    EXPECT_STREQ(text, path);
    return answer;
}

TEST_F(FileSystemHelpers, Existence) {
    for (const char *dir : {"C:\\Dir", "c:\\dir\\", "C:\\Dir\\S*"}) EXPECT_EQ(DirectoryExistsOf(dir), 1u) << dir;
    for (const char *miss : {"C:\\Dir\\README.TXT", "C:\\Missing\\", "C:\\.config", ""})
        EXPECT_EQ(DirectoryExistsOf(miss), 0u) << miss;
    EXPECT_TRUE(FileExists("C:\\Dir\\readme.txt"));
    EXPECT_TRUE(FileExists("C:\\Dir\\*.T?T"));
    for (const char *miss : {"C:\\Dir\\*.DOC", "C:\\Dir", "C:\\Dir\\Su*", "C:\\.profile", ""})
        EXPECT_FALSE(FileExists(miss)) << miss;
    // A drive root is tested by making its drive current; the current directory is restored.
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, tree_.Root().c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\Dir\\Sub"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Dir"));
    EXPECT_EQ(DirectoryExistsOf("D:\\"), strlen("D:\\Dir\\Sub"));
    EXPECT_EQ(DirectoryExistsOf("Q:\\"), 0u);
    char current[PATH_BUFFER_SIZE];
    GetCurrentDirectoryA(sizeof(current), current);
    EXPECT_STREQ(current, "C:\\Dir");
}

TEST_F(FileSystemHelpers, GetTrueCasePath) {
    // A short name without a long form comes back capitalised, a long name as stored; from a missing
    // component on, the caller's spelling is kept.
    const struct {
        const char *input;
        int result;
        const char *output;
    } cases[] = {
        {"C:\\DIR\\SUB", 0, "C:\\Dir\\Sub"},
        {"C:\\dir\\readme.txt", 0, "C:\\Dir\\Readme.txt"},
        {"C:\\LONG FILE NAME.TXT", 0, "C:\\Long File Name.txt"},
        {"C:\\DIR\\MISSING\\SUB\\x.TXT", 1, "C:\\Dir\\MISSING\\SUB\\x.TXT"},
        {"", 1, ""},
    };
    char path[PATH_BUFFER_SIZE];
    for (const auto &c : cases) {
        EXPECT_EQ(GetTrueCasePath(path, c.input), c.result) << c.input;
        EXPECT_STREQ(path, c.output);
    }
    // Too long for a path buffer: cut at 299 characters.
    EXPECT_EQ(GetTrueCasePath(path, ("C:\\DIR\\" + std::string(400, 'n')).c_str()), 1);
    EXPECT_EQ(strlen(path), PATH_BUFFER_SIZE - 1u);
}

}  // namespace
