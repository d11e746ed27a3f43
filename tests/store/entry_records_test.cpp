#include "store_fixture.h"

#include <string>

namespace {

EntryPosition PositionOf(DirectoryBlock *block, EntryRecord *entry) {
    EntryPosition position;
    StorePtr32(&position.pBlock, block), StorePtr32(&position.pEntry, entry);
    return position;
}

}  // namespace

TEST_F(StoreTest, AFilesUsageCountIsNoChildId) {
    DirectoryBlock *root = BuildDrive('C');
    SetUsageCount(BuildFile(&root, "Same"), 5);
    DirectoryBlock *other = BuildDirectory(&root, "Other");
    SetBlockId(other, 5), SetChildId(FindEntryByName(root, "other", 1), 5);
    EXPECT_STREQ("Other", GetEntryName(FindEntryByChildId(root, 5)));
    EXPECT_EQ(nullptr, FindEntryByChildId(root, 77));
    EXPECT_TRUE(CheckMapInvariants());
}

TEST_F(StoreTest, CopiesFromTheSameBlockSurviveForcedMoves) {
    DirectoryBlock *root = BuildDrive('C');
    DirectoryBlock *sub = BuildDirectory(&root, "sub");
    BuildFile(&root, "first.exe", 7, {"a.dll"});
    BuildFile(&sub, "elsewhere.txt", 9);
    HostMachine_MoveEveryReallocation(1);
    EntryRecord *source = NextEntry(FirstEntry(root));
    const std::string bytes(reinterpret_cast<char *>(source), GetEntryLength(source));
    EntryPosition position = PositionOf(root, source);
    gDirtyFlag = 0;
    DirectoryBlock *old = root;
    EntryRecord *copy = AppendEntryCopy(root, &position, &root);
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(root, old);
    EXPECT_EQ(gDirtyFlag, 1u);
    EXPECT_EQ(GetBlockEntryCount(root), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(copy), bytes.size()), bytes);
    EXPECT_EQ(reinterpret_cast<BYTE *>(copy) + bytes.size(), BlockEnd(root));
    EntryPosition fromSub = PositionOf(sub, FirstEntry(sub));  // from another block
    ASSERT_NE(nullptr, copy = AppendEntryCopy(root, &fromSub, &root));
    EXPECT_STREQ("elsewhere.txt", GetEntryName(copy));
    EXPECT_TRUE(CheckMapInvariants());
    StorePtr32(&fromSub.pEntry, nullptr);
    EXPECT_EQ(nullptr, AppendEntryCopy(root, &fromSub));
    EXPECT_EQ(nullptr, AppendEntryCopy(nullptr, &fromSub));
}

// Sync and load remove records mid-block; here the last record of a block, whose directory is the
// chain's tail: nothing slides, dwUsed falls back to the record's offset, the position to the end.
TEST_F(StoreTest, RemovingTheLastDirectoryUnlinksTheChainsTail) {
    DirectoryBlock *root = BuildDrive('C');
    BuildFile(&root, "first.txt");
    DirectoryBlock *kept = BuildDirectory(&root, "kept");
    BuildDirectory(&kept, "inner");
    EntryRecord *last = FindEntryByName(root, "kept", 1);
    const DWORD offset = EntryOffset(root, last);
    EntryPosition position = PositionOf(root, last);
    gDirtyFlag = 0;
    EXPECT_EQ(1, RemoveEntry(&position));
    EXPECT_EQ(GetBlockUsed(root), offset);
    EXPECT_EQ(gLastBlock, root);
    EXPECT_EQ(GetDriveBlockCount(gCurrentDrive), 1);
    EXPECT_EQ(gDirtyFlag, 1u);
    EXPECT_EQ(BlockEnd(root), LoadPtr32<BYTE>(&position.pEntry));
    EXPECT_TRUE(CheckMapInvariants());
    StorePtr32(&position.pEntry, nullptr);
    EXPECT_EQ(0, RemoveEntry(&position));
}
