// Global memory: the 4 GiB bound, zero-filling, forced moves, allocation failures, and the
// region's size under an address-space limit.
#include "host_machine.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// This binary started with HOST_MEMORY_PROBE set (under an address-space limit) does one
// allocation of global memory and one for the rest of the process, and exits: 0 when both
// worked, 3 when global memory ran out (ERROR_NOT_ENOUGH_MEMORY), 4 when the rest did.
int ProbeAddressSpace() {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, 64 * kMiB);
    if (block == nullptr) return GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? 3 : 10;
    return std::malloc(256 * kMiB) != nullptr ? 0 : 4;
}

const struct AddressSpaceProbe {
    AddressSpaceProbe() {
        if (std::getenv("HOST_MEMORY_PROBE") != nullptr) _exit(ProbeAddressSpace());
    }
} g_addressSpaceProbe;

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

// Whether the probe works must not depend on the address-space limit non-monotonically: a limit
// that works keeps working when raised. Each run is a fresh process, whose region is reserved
// under its limit.
TEST(GlobalMemoryRegion, RaisingTheAddressSpaceLimitNeverMakesAllocationsFail) {
#if defined(__SANITIZE_ADDRESS__) || defined(__i386__)
    GTEST_SKIP() << "AddressSanitizer's shadow, or qemu-i386's own reservations, ignore the limit's meaning";
#endif
    std::vector<int> outcomes;
    for (size_t limit = 192 * kMiB; limit <= 2304 * kMiB; limit += 64 * kMiB) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("HOST_MEMORY_PROBE", "1", 1);
            struct rlimit rl = {limit, limit};
            if (setrlimit(RLIMIT_AS, &rl) == 0) execl("/proc/self/exe", "host_layer_tests", nullptr);
            _exit(99);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 99) GTEST_SKIP() << "cannot start this test binary again";
        const int outcome = WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
        EXPECT_TRUE(outcome == 0 || outcome == 3 || outcome == 4) << limit / kMiB << " MiB: " << outcome;
        outcomes.push_back(outcome);
    }
    auto firstSuccess = std::find(outcomes.begin(), outcomes.end(), 0);
    EXPECT_NE(firstSuccess, outcomes.end());
    EXPECT_EQ(std::count(firstSuccess, outcomes.end(), 0), outcomes.end() - firstSuccess)
        << "a higher limit failed where a lower one worked";
}

}  // namespace
