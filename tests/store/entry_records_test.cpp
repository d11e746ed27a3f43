#include "store_fixture.h"

#include <cstring>
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
    for (int round = 0; round < 3; ++round) {
        EntryRecord *source = NextEntry(FirstEntry(root));
        const std::string bytes(reinterpret_cast<char *>(source), GetEntryLength(source));
        EntryPosition position = PositionOf(root, source);
        gDirtyFlag = 0;
        DirectoryBlock *old = root;
        EntryRecord *copy = AppendEntryCopy(root, &position, &root);
        ASSERT_NE(nullptr, copy);
        EXPECT_TRUE(root != old && gDirtyFlag == 1);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(copy), bytes.size()), bytes);
        EXPECT_EQ(reinterpret_cast<BYTE *>(copy) + bytes.size(), BlockEnd(root));
        EXPECT_TRUE(CheckMapInvariants());
    }
    EXPECT_EQ(5, GetBlockEntryCount(root));
    EntryPosition fromSub = PositionOf(sub, FirstEntry(sub));  // from another block
    EntryRecord *copy = AppendEntryCopy(root, &fromSub, &root);
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("elsewhere.txt", GetEntryName(copy));
    EXPECT_TRUE(CheckMapInvariants());
    StorePtr32(&fromSub.pEntry, nullptr);
    EXPECT_EQ(nullptr, AppendEntryCopy(root, &fromSub));
    EXPECT_EQ(nullptr, AppendEntryCopy(nullptr, &fromSub));
}

TEST_F(StoreTest, RemovingADirectoryFreesItsSubtree) {
    DirectoryBlock *root = BuildDrive('C');
    DirectoryBlock *gone = BuildDirectory(&root, "gone");
    BuildFile(&root, "after.txt");
    DirectoryBlock *inner = BuildDirectory(&gone, "inner");
    BuildDirectory(&inner, "leaf"), BuildDirectory(&gone, "second");
    DirectoryBlock *kept = BuildDirectory(&root, "kept");
    BuildFile(&kept, "k.txt");
    const unsigned long globalsBefore = HostMachine_GlobalBlockCount();
    EntryPosition position = PositionOf(root, FindEntryByName(root, "gone", 1));
    gDirtyFlag = 0;
    EXPECT_EQ(1, RemoveEntry(&position));
    EXPECT_EQ(globalsBefore - 4, HostMachine_GlobalBlockCount());
    EXPECT_TRUE(GetDriveBlockCount(gCurrentDrive) == 2 && CountChainBlocks() == 2 && gLastBlock == kept);
    EXPECT_TRUE(gDirtyFlag == 1 && GetBlockEntryCount(root) == 2);
    EXPECT_STREQ("after.txt", GetEntryName(LoadPtr32<EntryRecord>(&position.pEntry)));
    EXPECT_TRUE(CheckMapInvariants());
    // The last record: nothing slides, dwUsed falls back to its offset and the position to the end.
    EntryRecord *last = FindEntryByName(root, "kept", 1);
    const DWORD offset = EntryOffset(root, last);
    StorePtr32(&position.pEntry, last);
    EXPECT_EQ(1, RemoveEntry(&position));
    EXPECT_TRUE(GetBlockUsed(root) == offset && gLastBlock == root);
    EXPECT_EQ(BlockEnd(root), LoadPtr32<BYTE>(&position.pEntry));
    EXPECT_TRUE(CheckMapInvariants());
    StorePtr32(&position.pEntry, nullptr);
    EXPECT_EQ(0, RemoveEntry(&position));
}
