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

TEST_F(StoreTest, FileRecordBytesAndHelpers) {
    DirectoryBlock *root = BuildDrive('C');
    BuildDirectory(&root, "Dir");  // records after it start at odd offsets
    EntryRecord *file = BuildFile(&root, "App.exe", 0x01020304, {"kernel32.dll", "user32.dll"}, ENTRY_PE);
    ASSERT_NE(nullptr, file);
    const unsigned char expected[] = {
        51, 0, 0x2F, 0, 4, 3, 2, 1, 0, 0, 'A', 'p', 'p', '.', 'e', 'x', 'e', 0,
        0x9F, 0x27, 0x7D, 0xBF, 0x21, 0x28, 0, 0,  // 1999-12-31 23:59:58, 2000-01-01 00:00:00
        2, 'k', 'e', 'r', 'n', 'e', 'l', '3', '2', '.', 'd', 'l', 'l', 0, 'u', 's', 'e', 'r', '3', '2', '.', 'd', 'l', 'l', 0};
    ASSERT_EQ(sizeof expected, GetEntryLength(file));
    EXPECT_EQ(0, std::memcmp(expected, file, sizeof expected));
    EXPECT_EQ(reinterpret_cast<BYTE *>(file) + 18, GetFileTail(file));
    EXPECT_EQ(reinterpret_cast<BYTE *>(file) + 26, GetReferencePart(file));
    EXPECT_EQ(0x01020304u, GetEntryFileSize(file));
    EntryRecord *plain = BuildFile(&root, "a.txt"), *dir = FirstEntry(root);
    EXPECT_TRUE(GetEntryLength(plain) == FILE_RECORD_SIZE(5) && GetReferencePart(plain) == nullptr);
    EXPECT_TRUE(GetEntryLength(dir) == DIR_RECORD_SIZE(3) && !IsFile(dir));
    EXPECT_EQ(NextEntry(NextEntry(dir)), plain);
    EXPECT_EQ(BlockEnd(root), reinterpret_cast<BYTE *>(NextEntry(plain)));
}

TEST_F(StoreTest, EntriesAreFoundByNameIgnoringCaseAndByChildId) {
    DirectoryBlock *root = BuildDrive('C');
    SetUsageCount(BuildFile(&root, "Same"), 5);
    DirectoryBlock *same = BuildDirectory(&root, "same");
    DirectoryBlock *other = BuildDirectory(&root, "Other");
    SetBlockId(other, 5), SetChildId(FindEntryByName(root, "other", 1), 5);
    EXPECT_STREQ("Same", GetEntryName(FindEntryByName(root, "SAME", 0)));  // first match: the file
    EntryRecord *dir = FindEntryByName(root, "sAmE", 1);
    ASSERT_NE(nullptr, dir);
    EXPECT_EQ(same, GetChildBlock(dir));
    EXPECT_EQ(nullptr, FindEntryByName(root, "sam", 0));
    EXPECT_EQ(nullptr, FindEntryByName(nullptr, "same", 0));
    // A file's usage count of 5 is not a child id.
    EXPECT_STREQ("Other", GetEntryName(FindEntryByChildId(root, 5)));
    EXPECT_EQ(dir, FindEntryByChildId(root, GetBlockId(same)));
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
