#include "store_fixture.h"

TEST_F(StoreTest, DriveRecordsAreAddedUpperCaseAndFoundByLetter) {
    DriveRecord *c = AddDriveRecord("c:\\windows");
    ASSERT_NE(nullptr, c);
    EXPECT_EQ('C', c->chLetter + 0);
    EXPECT_TRUE(GetDriveBlockCount(c) == 0 && GetDriveRoot(c) == nullptr);
    EXPECT_EQ(1u, gDirtyFlag);
    DriveRecord *d = AddDriveRecord("D:");
    EXPECT_EQ(c, FindDriveRecord("c:relative"));
    EXPECT_EQ(d, FindDriveRecord("d:\\x"));
    for (const char *miss : {"E:\\", "C\\", "\\\\c\\share", "", "c"})
        EXPECT_EQ(nullptr, FindDriveRecord(miss)) << miss;
}

TEST_F(StoreTest, FullDriveTableRefusesAnotherRecord) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char path[] = {letter, ':', '\0'};
        ASSERT_NE(nullptr, AddDriveRecord(path));
    }
    EXPECT_EQ(nullptr, AddDriveRecord("A:"));
    EXPECT_EQ(26u, DWORD{gDriveTable.dwCount});
    EXPECT_EQ(&gDriveTable.records[25], FindDriveRecord("z:\\"));
}
