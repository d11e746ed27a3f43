// The public header gives C and C++ clients the same layouts.
#include "pwdvmp32.h"

#include <gtest/gtest.h>

extern "C" size_t PublicHeaderLayoutFromC(int which);

TEST(PublicHeader, CAndCxxAgreeOnEveryLayout) {
    const size_t cxx[] = {sizeof(FIND_DATA),      sizeof(DriveRecord),  sizeof(DirectoryBlock),
                          offsetof(EntryRecord, szName), sizeof(EntryPosition), sizeof(MyFileQuery),
                          sizeof(MyFileFound),    offsetof(FIND_DATA, dwSearchAttributes)};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(PublicHeaderLayoutFromC(i), cxx[i]) << "layout " << i;
}
