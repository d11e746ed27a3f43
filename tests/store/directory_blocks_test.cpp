#include "store_fixture.h"

#include <cstring>
#include <vector>

namespace {

// C: root { a { a1 { deep }, file.txt }, b }, D: root { d1 }; chain C, a, a1, deep, b, D, d1.
struct SampleMap {
    DirectoryBlock *c, *a, *a1, *deep, *b, *d, *d1;
};

SampleMap BuildSample() {
    SampleMap m{};
    m.c = BuildDrive('C'), m.a = BuildDirectory(&m.c, "a"), m.a1 = BuildDirectory(&m.a, "a1");
    m.deep = BuildDirectory(&m.a1, "deep"), BuildFile(&m.a, "file.txt", 42), m.b = BuildDirectory(&m.c, "b");
    m.d = BuildDrive('D'), m.d1 = BuildDirectory(&m.d, "d1");
    return m;
}

}  // namespace

TEST_F(StoreTest, BlockIdsCountInBuildModeAndSearchOtherwise) {
    gOperationMode = MODE_BUILD;
    DirectoryBlock *root = BuildDrive('C');
    DirectoryBlock *one = BuildDirectory(&root, "one"), *two = BuildDirectory(&root, "two");
    EXPECT_EQ(std::make_pair(GetBlockId(root), GetBlockId(two)), std::make_pair(WORD{0}, WORD{2}));
    EXPECT_EQ(3, AllocateBlockId());  // untested: a duplicate would come out as well
    gOperationMode = MODE_UPDATE;
    SetBlockId(one, 10), SetBlockId(two, 11);
    gNextBlockId = 10;
    EXPECT_EQ(12, AllocateBlockId());
    EXPECT_EQ(13u, gNextBlockId);
    gNextBlockId = 0xFFFF;  // nothing above: wraps to 0, which the root holds
    EXPECT_EQ(1, AllocateBlockId());
    EXPECT_EQ(2u, gNextBlockId);
    SetBlockId(one, 1), SetBlockId(two, 2);
    SetChildId(FindEntryByName(root, "one", 1), 1), SetChildId(FindEntryByName(root, "two", 1), 2);
    EXPECT_TRUE(CheckMapInvariants());
}

TEST_F(StoreTest, MovedBlocksAreRelinkedEverywhere) {
    SampleMap m = BuildSample();
    HostMachine_MoveEveryReallocation(1);
    // The chain's head (a root), a middle block with a parent and children, the tail, a root that
    // is not the head: every growth moves the block and the whole map must follow.
    struct Case {
        DirectoryBlock **block;
        const char *name;
    } cases[] = {{&m.c, "c1"}, {&m.a, "a2"}, {&m.d1, "d11"}, {&m.d, "d2"}, {&m.deep, "x"}};
    for (const Case &k : cases) {
        DirectoryBlock *old = *k.block;
        SelectDriveOf(old);
        ASSERT_NE(nullptr, BuildFile(k.block, k.name)) << k.name;
        EXPECT_NE(old, *k.block);
        EXPECT_TRUE(CheckMapInvariants()) << "after appending " << k.name;
    }
    EXPECT_EQ(std::make_tuple(GetChainHead(), gLastBlock, GetDriveRoot(&gDriveTable.records[1])),
              std::make_tuple(m.c, m.d1, m.d));
    // Cutting back a block with slack moves it too, and only while a shrink is pending.
    SelectDriveOf(m.a);
    ASSERT_NE(nullptr, m.a = GrowBlock(m.a, 16384));
    EXPECT_EQ(ShrinkBlock(m.a), m.a);
    EXPECT_EQ(GlobalSize(GlobalHandle(m.a)), 16384u);
    gShrinkPending = 1;
    DirectoryBlock *shrunk = ShrinkBlock(m.a);
    EXPECT_NE(shrunk, m.a);
    EXPECT_EQ(GlobalSize(GlobalHandle(shrunk)), GetBlockUsed(shrunk));
    EXPECT_EQ(gShrinkPending, 0u);
    EXPECT_TRUE(CheckMapInvariants());
}
