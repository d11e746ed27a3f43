// MoveFileExA: replacing, refusing, and what travels with the file.
#include "platform/file_system_fixture.h"

#include <sys/stat.h>
#include <sys/xattr.h>

using FileRename = FileSystemTest;

TEST_F(FileRename, RenamesAndReplacesOnlyWhatWindowsWould) {
    ASSERT_TRUE(tree.AddFile("a.tmp", "new") && tree.AddFile("Old.dat", "old") && tree.AddDir("dir") && tree.AddFile("ro.dat"));
    ASSERT_EQ(chmod(tree.Path("ro.dat").c_str(), 0444), 0);
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, tree.Path("dir").c_str()));
    struct Case { const char *from, *to; DWORD flags, error; } refused[] = {
        {"C:\\a.tmp", "C:\\OLD.DAT", 0, ERROR_ALREADY_EXISTS},
        {"C:\\a.tmp", "C:\\ro.dat", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\a.tmp", "C:\\dir", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\a.tmp", "D:\\x.dat", MOVEFILE_REPLACE_EXISTING, ERROR_NOT_SAME_DEVICE},
        {"C:\\missing", "C:\\x.dat", 0, ERROR_FILE_NOT_FOUND},
        {"C:\\dir", "C:\\x", 0, ERROR_ACCESS_DENIED},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(c.from, c.to, c.flags));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(tree.ReadFile("Old.dat"), "old");
    // An existing target is replaced under its own spelling, hidden attribute and all from the source.
    ASSERT_EQ(_lclose(_lcreat("C:\\b.tmp", FILE_ATTRIBUTE_HIDDEN)), 0);
    EXPECT_TRUE(MoveFileExA("C:\\a.tmp", "C:\\OLD.DAT", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(tree.ReadFile("Old.dat"), "new");
    EXPECT_FALSE(tree.Exists("a.tmp") || tree.Exists("OLD.DAT"));
    EXPECT_TRUE(MoveFileExA("C:\\b.tmp", "C:\\dir\\b.dat", 0));
    if (getxattr(tree.Path("dir/b.dat").c_str(), "user.DOSATTRIB", nullptr, 0) > 0) {  // where kept
        EXPECT_NE(GetFileAttributesA("C:\\dir\\b.dat") & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
}
