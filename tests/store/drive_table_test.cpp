#include "store_fixture.h"

TEST_F(StoreTest, FullDriveTableRefusesAnotherRecord) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char path[] = {letter, ':', '\0'};
        ASSERT_NE(nullptr, AddDriveRecord(path));
    }
    EXPECT_EQ(nullptr, AddDriveRecord("A:"));
    EXPECT_EQ(26u, DWORD{gDriveTable.dwCount});
    EXPECT_EQ(&gDriveTable.records[25], FindDriveRecord("z:\\"));
}
