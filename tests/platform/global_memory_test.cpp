// Global memory: handles, locks, moves, zero-filling, limits, the 4 GiB bound, IsBadReadPtr.
#include "host_machine.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

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
        for (UINT flags : {GPTR, GHND}) {
            HGLOBAL h = GlobalAlloc(flags, cb);
            char *p = Lock(h);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(reinterpret_cast<uintptr_t>(p) + cb <= 0x100000000ull && reinterpret_cast<uintptr_t>(p) % 8 == 0);
            EXPECT_TRUE(AllBytes(p, cb, 0));
            blocks.push_back(h);
        }
    }
    EXPECT_EQ(HostMachine_GlobalBlockCount(), startBlocks + blocks.size());
    for (HGLOBAL h : blocks) EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(GlobalMemory, HandlesLocksAndPointers) {
    HGLOBAL h = GlobalAlloc(GHND, 40);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(IsBadReadPtr(h, 1)) << "a handle must not be usable as data";
    EXPECT_EQ(GlobalSize(h), 40u);
    char *p = Lock(h);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(GlobalHandle(p) == h && GlobalHandle(h) == h && GlobalLock(h) == p);
    EXPECT_TRUE(GlobalUnlock(h));
    SetLastError(1234);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), 158u);  // ERROR_NOT_LOCKED
    // Pointers into a block and the data pointer of a moveable block are not handles.
    EXPECT_TRUE(GlobalHandle(p + 8) == nullptr && GlobalSize(p) == 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    HGLOBAL hFixed = GlobalAlloc(GMEM_FIXED, 10);
    EXPECT_TRUE(GlobalLock(hFixed) == hFixed && GlobalHandle(hFixed) == hFixed && GlobalUnlock(hFixed));
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(h), h);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_TRUE(GlobalFree(hFixed) == nullptr && GlobalFree(nullptr) == nullptr);
}

TEST_F(GlobalMemory, ReallocationZeroFillsTheGrownPart) {
    for (int forceMoves : {0, 1}) {
        SCOPED_TRACE(forceMoves);
        HostMachine_MoveEveryReallocation(forceMoves);
        HGLOBAL h = GlobalAlloc(GHND, 100);
        memset(GlobalLock(h), 0xAA, 100);
        GlobalUnlock(h);
        // Grow, then shrink and grow again: the bytes cut off must not come back.
        const struct { SIZE_T cb, kept; } steps[] = {{5000, 100}, {50, 50}, {60, 50}};
        for (const auto &s : steps) {
            ASSERT_EQ(GlobalReAlloc(h, s.cb, GHND), h);
            char *p = Lock(h);
            EXPECT_EQ(GlobalSize(h), s.cb);
            EXPECT_TRUE(AllBytes(p, s.kept, '\xAA') && AllBytes(p + s.kept, s.cb - s.kept, 0)) << s.cb;
            GlobalUnlock(h);
        }
        GlobalFree(h);
    }
}

TEST_F(GlobalMemory, ForcedMovesKeepHandleLocksAndContent) {
    HostMachine_MoveEveryReallocation(1);
    HGLOBAL h = GlobalAlloc(GHND, 64);
    char *p = strcpy(Lock(h), "directory block");
    for (SIZE_T cb : {128u, 16u, 16u + 16384u}) {
        SCOPED_TRACE(cb);
        ASSERT_EQ(GlobalReAlloc(h, cb, GHND), h);
        char *pNew = Lock(h);
        EXPECT_TRUE(pNew != p && memcmp(pNew, "directory block", 16) == 0 && GlobalHandle(pNew) == h);
        EXPECT_EQ(GlobalHandle(p), nullptr) << "the old address is no block any more";
        EXPECT_EQ(GlobalUnlock(h), TRUE) << "the first lock survives the move";
        p = pNew;
    }
    // A fixed block moves only when GMEM_MOVEABLE allows it; then its handle is its new address.
    HGLOBAL hFixed = GlobalAlloc(GMEM_FIXED, 32);
    HGLOBAL hMoved = GlobalReAlloc(hFixed, 64, GMEM_MOVEABLE);
    EXPECT_TRUE(hMoved != nullptr && hMoved != hFixed && GlobalSize(hMoved) == 64);
    GlobalFree(hMoved), GlobalUnlock(h), GlobalFree(h);
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
    HostMachine_Reset();  // lifts the limit, keeps the block
    EXPECT_EQ(GlobalReAlloc(h, 0x7FFFFFFF, GHND), nullptr);  // more than the region holds
    EXPECT_TRUE(GlobalSize(h) == 1000 && AllBytes(p, 1000, 0x5A));
    EXPECT_EQ(GlobalReAlloc(p, 10, GHND), nullptr) << "a data pointer is no handle";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    GlobalFree(h);
}

TEST_F(GlobalMemory, IsBadReadPtrProbesTheAddressSpace) {
    const long cbPage = sysconf(_SC_PAGESIZE);
    char *pPages = static_cast<char *>(mmap(nullptr, 2 * cbPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pPages, MAP_FAILED);
    ASSERT_EQ(munmap(pPages + cbPage, cbPage), 0);
    EXPECT_FALSE(IsBadReadPtr(pPages, cbPage));
    EXPECT_TRUE(IsBadReadPtr(pPages, cbPage + 1)) << "the range runs into the unmapped page";
    EXPECT_TRUE(IsBadReadPtr(pPages + cbPage + 10, 4));
    ASSERT_EQ(munmap(pPages, cbPage), 0);
    EXPECT_TRUE(IsBadReadPtr(pPages, 4) && IsBadReadPtr(nullptr, 1) && !IsBadReadPtr(nullptr, 0));
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void *>(UINTPTR_MAX - 2), 8)) << "wraps around";
    HGLOBAL h = GlobalAlloc(GPTR, 3 * cbPage);
    EXPECT_FALSE(IsBadReadPtr(h, 3 * cbPage));
    GlobalFree(h);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(GlobalMemoryDeathTest, OverrunIsReportedUnderAddressSanitizer) {
    HGLOBAL h = GlobalAlloc(GHND, 13);
    volatile char *p = Lock(h);
    EXPECT_DEATH(p[13] = 1, "AddressSanitizer");
    GlobalUnlock(h), GlobalFree(h);
}
#endif

}  // namespace
