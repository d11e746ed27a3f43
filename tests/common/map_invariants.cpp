#include "common/map_invariants.h"

#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"

#include <set>
#include <sstream>

namespace {

// Each check that fails writes its message to `why` and returns false.
#define FAIL_BECAUSE(message) return (why << message, false)

// Length of a record's own content, checked against wLength: the name and its NUL, a file's tail,
// the reference part. Fails when the content runs past `cbAvailable`.
bool MeasureRecord(const EntryRecord *e, DWORD cbAvailable, DWORD *pcbContent, std::ostringstream &why) {
    const BYTE *bytes = reinterpret_cast<const BYTE *>(e);
    DWORD pos = ENTRY_FIXED_SIZE;
    auto skipString = [&] {
        while (pos < cbAvailable && bytes[pos] != 0) ++pos;
        return pos++ < cbAvailable;
    };
    if (!skipString()) FAIL_BECAUSE("name runs past its record");
    const WORD refFlags = ENTRY_SCANNED | ENTRY_HAS_REFS;
    if (IsFile(e)) pos += ENTRY_FILE_TAIL_SIZE;
    if (IsFile(e) && (GetEntryFlags(e) & refFlags) == refFlags) {
        if (pos >= cbAvailable) FAIL_BECAUSE("reference count runs past its record");
        const BYTE cRefs = bytes[pos++];
        if (cRefs == 0) FAIL_BECAUSE("ENTRY_HAS_REFS with a reference count of 0");
        for (BYTE i = 0; i < cRefs; ++i)
            if (!skipString()) FAIL_BECAUSE("reference " << int(i) << " runs past its record");
    }
    if (pos > cbAvailable) FAIL_BECAUSE("fixed part runs past its record");
    *pcbContent = pos;
    return true;
}

struct Checker {
    std::set<const DirectoryBlock *> treeBlocks;
    std::ostringstream why;
    // Checks `block` and its subtree; counts blocks into *pcBlocks.
    bool CheckBlock(const DirectoryBlock *block, const std::string &path, unsigned long *pcBlocks) {
        if (!treeBlocks.insert(block).second) FAIL_BECAUSE(path << ": block reached twice");
        ++*pcBlocks;
        const DWORD cbUsed = GetBlockUsed(block);
        if (cbUsed < BLOCK_HEADER_SIZE) FAIL_BECAUSE(path << ": dwUsed " << cbUsed << " < 18");
        const HGLOBAL handle = GlobalHandle(block);
        if (handle != nullptr && GlobalSize(handle) < cbUsed)
            FAIL_BECAUSE(path << ": dwUsed " << cbUsed << " exceeds the block's memory " << GlobalSize(handle));
        DWORD offset = BLOCK_HEADER_SIZE;
        const WORD count = GetBlockEntryCount(block);
        for (WORD i = 0; i < count; ++i) {
            if (offset + ENTRY_FIXED_SIZE + 1 > cbUsed)
                FAIL_BECAUSE(path << ": record " << i << " of " << count << " starts past dwUsed");
            auto *e = reinterpret_cast<const EntryRecord *>(reinterpret_cast<const BYTE *>(block) + offset);
            const WORD cbRecord = GetEntryLength(e);
            if (offset + cbRecord > cbUsed)
                FAIL_BECAUSE(path << ": record " << i << " (wLength " << cbRecord << ") ends past dwUsed");
            DWORD cbContent = 0;
            if (!MeasureRecord(e, cbRecord, &cbContent, why)) FAIL_BECAUSE(" (" << path << ", record " << i << ")");
            const std::string name = path + "\\" + GetEntryName(e);
            if (GetEntryFlags(e) & ~0x3F) FAIL_BECAUSE(name << ": unknown flag bits " << GetEntryFlags(e));
            if (cbRecord != cbContent)
                FAIL_BECAUSE(name << (IsFile(e) ? ": file" : ": directory") << " record of " << cbRecord
                                  << " bytes, content " << cbContent);
            if (const DirectoryBlock *child = IsFile(e) ? nullptr : GetChildBlock(e)) {
                if (GetBlockParent(child) != block) FAIL_BECAUSE(name << ": child's pParent is not its block");
                if (GetBlockParentId(child) != GetBlockId(block))
                    FAIL_BECAUSE(name << ": child's wParentId " << GetBlockParentId(child)
                                      << " != " << GetBlockId(block));
                if (GetChildId(e) != GetBlockId(child))
                    FAIL_BECAUSE(name << ": wChildId " << GetChildId(e) << " != child's id " << GetBlockId(child));
                if (!CheckBlock(child, name, pcBlocks)) return false;
            }
            offset += cbRecord;
        }
        if (offset != cbUsed) FAIL_BECAUSE(path << ": dwUsed " << cbUsed << " != 18 + records " << offset);
        return true;
    }
};

}  // namespace

::testing::AssertionResult CheckMapInvariants() {
    Checker checker;
    auto failure = [] { return ::testing::AssertionFailure(); };
    const DWORD cDrives = gDriveTable.dwCount;  // a packed field: copied, never bound to a reference
    if (cDrives > 26) return failure() << "drive count " << cDrives;
    for (DWORD i = 0; i < cDrives; ++i) {
        const DriveRecord *drive = &gDriveTable.records[i];
        const std::string letter(1, static_cast<char>(drive->chLetter));
        const DirectoryBlock *root = GetDriveRoot(drive);
        unsigned long cBlocks = 0;
        if (root != nullptr && GetBlockParent(root) != nullptr)
            return failure() << letter << ": root block has a pParent";
        if (root != nullptr && !checker.CheckBlock(root, letter + ":", &cBlocks)) return failure() << checker.why.str();
        if (cBlocks != GetDriveBlockCount(drive))
            return failure() << letter << ": wBlockCount " << GetDriveBlockCount(drive) << ", blocks in its tree "
                             << cBlocks;
    }
    std::set<const DirectoryBlock *> chain;
    const DirectoryBlock *last = nullptr;
    for (const DirectoryBlock *b = GetChainHead(); b != nullptr; last = b, b = GetBlockNext(b)) {
        if (!chain.insert(b).second) return failure() << "block chain visits a block twice";
        if (!checker.treeBlocks.count(b)) return failure() << "chain holds a block of no drive's tree";
    }
    if (chain.size() != checker.treeBlocks.size())
        return failure() << "chain holds " << chain.size() << " blocks, trees " << checker.treeBlocks.size();
    if (last != gLastBlock) return failure() << "gLastBlock is not the chain's tail";
    return ::testing::AssertionSuccess();
}
