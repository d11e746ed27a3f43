#include "common/map_invariants.h"

#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"

#include <cstring>
#include <set>
#include <sstream>

namespace {

const unsigned long CHAIN_BOUND = 1000000;

// Length of a record's own content, checked against wLength: the name and its NUL, a file's tail,
// the reference part. Returns false (with a message) when the content runs past `cbAvailable`.
bool MeasureRecord(const EntryRecord *e, DWORD cbAvailable, DWORD *pcbContent, std::ostringstream &why) {
    const BYTE *bytes = reinterpret_cast<const BYTE *>(e);
    DWORD pos = ENTRY_FIXED_SIZE;
    while (pos < cbAvailable && bytes[pos] != 0) ++pos;
    if (pos >= cbAvailable) return why << "name runs past its record", false;
    ++pos;
    if (IsFile(e)) {
        pos += ENTRY_FILE_TAIL_SIZE;
        const WORD refFlags = ENTRY_SCANNED | ENTRY_HAS_REFS;
        if ((GetEntryFlags(e) & refFlags) == refFlags) {
            if (pos >= cbAvailable) return why << "reference count runs past its record", false;
            const BYTE cRefs = bytes[pos++];
            if (cRefs == 0) return why << "ENTRY_HAS_REFS with a reference count of 0", false;
            for (BYTE i = 0; i < cRefs; ++i) {
                while (pos < cbAvailable && bytes[pos] != 0) ++pos;
                if (pos >= cbAvailable) return why << "reference " << int(i) << " runs past its record", false;
                ++pos;
            }
        }
    }
    if (pos > cbAvailable) return why << "fixed part runs past its record", false;
    *pcbContent = pos;
    return true;
}

struct Checker {
    std::set<const DirectoryBlock *> treeBlocks;
    std::ostringstream why;

    // Checks `block` and its subtree; counts blocks into *pcBlocks.
    bool CheckBlock(const DirectoryBlock *block, const std::string &path, unsigned long *pcBlocks) {
        if (!treeBlocks.insert(block).second) return why << path << ": block reached twice", false;
        ++*pcBlocks;
        const DWORD cbUsed = GetBlockUsed(block);
        if (cbUsed < BLOCK_HEADER_SIZE) return why << path << ": dwUsed " << cbUsed << " < 18", false;
        const HGLOBAL handle = GlobalHandle(block);
        if (handle != nullptr && GlobalSize(handle) < cbUsed)
            return why << path << ": dwUsed " << cbUsed << " exceeds the block's memory " << GlobalSize(handle), false;

        DWORD offset = BLOCK_HEADER_SIZE;
        const WORD count = GetBlockEntryCount(block);
        for (WORD i = 0; i < count; ++i) {
            if (offset + ENTRY_FIXED_SIZE + 1 > cbUsed)
                return why << path << ": record " << i << " of " << count << " starts past dwUsed", false;
            auto *e = reinterpret_cast<const EntryRecord *>(reinterpret_cast<const BYTE *>(block) + offset);
            const WORD cbRecord = GetEntryLength(e);
            if (offset + cbRecord > cbUsed)
                return why << path << ": record " << i << " (wLength " << cbRecord << ") ends past dwUsed", false;
            DWORD cbContent = 0;
            if (!MeasureRecord(e, cbRecord, &cbContent, why)) return why << " (" << path << ", record " << i << ")", false;
            const std::string name = path + "\\" + GetEntryName(e);
            if (GetEntryFlags(e) & ~0x3F) return why << name << ": unknown flag bits " << GetEntryFlags(e), false;
            if (!IsFile(e)) {
                if (cbRecord != cbContent)
                    return why << name << ": directory record of " << cbRecord << " bytes, content " << cbContent, false;
                if (const DirectoryBlock *child = GetChildBlock(e)) {
                    if (GetBlockParent(child) != block) return why << name << ": child's pParent is not its block", false;
                    if (GetBlockParentId(child) != GetBlockId(block))
                        return why << name << ": child's wParentId " << GetBlockParentId(child) << " != " << GetBlockId(block), false;
                    if (GetChildId(e) != GetBlockId(child))
                        return why << name << ": wChildId " << GetChildId(e) << " != child's id " << GetBlockId(child), false;
                    if (!CheckBlock(child, name, pcBlocks)) return false;
                }
            } else if (cbRecord != cbContent) {
                return why << name << ": file record of " << cbRecord << " bytes, content " << cbContent, false;
            }
            offset += cbRecord;
        }
        if (offset != cbUsed) return why << path << ": dwUsed " << cbUsed << " != 18 + records " << offset, false;
        return true;
    }
};

}  // namespace

unsigned long CountChainBlocks() {
    unsigned long count = 0;
    for (const DirectoryBlock *b = GetChainHead(); b != nullptr && count < CHAIN_BOUND; b = GetBlockNext(b)) ++count;
    return count;
}

::testing::AssertionResult CheckMapInvariants() {
    Checker checker;
    const DWORD cDrives = gDriveTable.dwCount;  // a packed field: copied, never bound to a reference
    if (cDrives > 26) return ::testing::AssertionFailure() << "drive count " << cDrives;
    for (DWORD i = 0; i < cDrives; ++i) {
        const DriveRecord *drive = &gDriveTable.records[i];
        const std::string path(1, static_cast<char>(drive->chLetter));
        const DirectoryBlock *root = GetDriveRoot(drive);
        unsigned long cBlocks = 0;
        if (root != nullptr) {
            if (GetBlockParent(root) != nullptr)
                return ::testing::AssertionFailure() << path << ": root block has a pParent";
            if (!checker.CheckBlock(root, path + ":", &cBlocks)) return ::testing::AssertionFailure() << checker.why.str();
        }
        if (cBlocks != GetDriveBlockCount(drive))
            return ::testing::AssertionFailure()
                   << path << ": wBlockCount " << GetDriveBlockCount(drive) << ", blocks in its tree " << cBlocks;
    }

    std::set<const DirectoryBlock *> chain;
    const DirectoryBlock *last = nullptr;
    for (const DirectoryBlock *b = GetChainHead(); b != nullptr; b = GetBlockNext(b)) {
        if (!chain.insert(b).second) return ::testing::AssertionFailure() << "block chain visits a block twice";
        if (!checker.treeBlocks.count(b)) return ::testing::AssertionFailure() << "chain holds a block of no drive's tree";
        last = b;
    }
    if (chain.size() != checker.treeBlocks.size())
        return ::testing::AssertionFailure()
               << "chain holds " << chain.size() << " blocks, trees " << checker.treeBlocks.size();
    if (last != gLastBlock) return ::testing::AssertionFailure() << "gLastBlock is not the chain's tail";
    return ::testing::AssertionSuccess();
}
