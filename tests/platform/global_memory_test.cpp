// Global memory: the 4 GiB bound, zero-filling, forced moves and allocation failures.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class GlobalMemory : public ::testing::Test {
protected:
    void SetUp() override { HostMachine_Reset(), startBlocks = HostMachine_GlobalBlockCount(); }
    void TearDown() override {
        EXPECT_EQ(HostMachine_GlobalBlockCount(), startBlocks) << "a test leaked a block";
        HostMachine_Reset();
    }
    unsigned long startBlocks = 0;
};

bool AllBytes(const char *p, size_t cb, char value) { return std::string(p, cb) == std::string(cb, value); }
char *Lock(HGLOBAL h) { return static_cast<char *>(GlobalLock(h)); }

TEST_F(GlobalMemory, BlocksLieBelow4GiBAlignedZeroedAndCounted) {
    std::vector<HGLOBAL> blocks;
    for (SIZE_T cb : {1u, 7u, 100u, 16384u, 1u << 20}) {
        HGLOBAL h = GlobalAlloc(cb % 2 ? GPTR : GHND, cb);
        char *p = Lock(h);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(reinterpret_cast<uintptr_t>(p) + cb <= 0x100000000ull);
        EXPECT_TRUE(reinterpret_cast<uintptr_t>(p) % 8 == 0);
        EXPECT_TRUE(AllBytes(p, cb, 0));
        blocks.push_back(h);
    }
    EXPECT_EQ(HostMachine_GlobalBlockCount(), startBlocks + blocks.size());
    for (HGLOBAL h : blocks) EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(GlobalMemory, ReallocationKeepsHandleLockAndContentAndZeroFillsTheGrownPart) {
    for (int forceMoves : {0, 1}) {
        SCOPED_TRACE(forceMoves);
        HostMachine_MoveEveryReallocation(forceMoves);
        HGLOBAL h = GlobalAlloc(GHND, 100);
        char *p = static_cast<char *>(memset(Lock(h), 0xAA, 100));
        // Grow, then shrink and grow again: the bytes cut off must not come back.
        const struct { SIZE_T cb, kept; } steps[] = {{5000, 100}, {50, 50}, {60, 50}, {16384, 50}};
        for (const auto &s : steps) {
            ASSERT_EQ(GlobalReAlloc(h, s.cb, GHND), h);
            char *pNew = Lock(h);
            EXPECT_EQ(GlobalSize(h), s.cb);
            EXPECT_EQ(GlobalHandle(pNew), h);
            EXPECT_TRUE(AllBytes(pNew, s.kept, '\xAA')) << s.cb;
            EXPECT_TRUE(AllBytes(pNew + s.kept, s.cb - s.kept, 0)) << s.cb;
            if (forceMoves) {
                EXPECT_EQ(GlobalHandle(p), nullptr) << "the old address is no block any more";
            }
            EXPECT_EQ(GlobalUnlock(h), TRUE) << "the first lock survives the move";
            p = pNew;
        }
        GlobalUnlock(h), GlobalFree(h);
    }
}

TEST_F(GlobalMemory, FailuresLeaveTheBlockIntact) {
    HostMachine_LimitAllocations(1000);
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(GHND, 1001), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    HGLOBAL h = GlobalAlloc(GHND, 1000);
    char *p = Lock(h);
    ASSERT_NE(p, nullptr);
    memset(p, 0x5A, 1000);
    EXPECT_EQ(GlobalReAlloc(h, 1001, GHND), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GlobalLock(h), p);
    HostMachine_Reset();                                     // lifts the limit, keeps the block
    EXPECT_EQ(GlobalReAlloc(h, 0x7FFFFFFF, GHND), nullptr);  // more than the region holds
    EXPECT_EQ(GlobalSize(h), 1000u);
    EXPECT_TRUE(AllBytes(p, 1000, 0x5A));
    EXPECT_EQ(GlobalReAlloc(p, 10, GHND), nullptr) << "a data pointer is no handle";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    GlobalFree(h);
}

}  // namespace
