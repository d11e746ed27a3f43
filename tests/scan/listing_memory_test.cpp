// Memory running out while a scan lists a directory: the directory is not mapped as empty (which
// would drop everything in it and, in a sync, what the map knew of it); the scan stops with error
// 3 and saves nothing. This test binary replaces operator new so that the one allocation after
// arming fails; the listing hook arms it between a directory's lookup and its reading.
#include "common/temp_tree.h"
#include "scan/drive_class.h"
#include "store/store_fixture.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool g_failNextAllocation = false;

void *Allocate(std::size_t size) {
    if (g_failNextAllocation) {
        g_failNextAllocation = false;
        throw std::bad_alloc();
    }
    if (void *p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

struct FailListing {
    const char *directory;  // the host directory whose listing runs out of memory
    static void Hook(void *context, const char *hostDirectory) {
        const char *wanted = static_cast<FailListing *>(context)->directory;
        const size_t cch = std::strlen(hostDirectory);
        if (cch >= std::strlen(wanted) && std::strcmp(hostDirectory + cch - std::strlen(wanted), wanted) == 0)
            g_failNextAllocation = true;
    }
};

TEST(ListingMemory, AScanStopsWhenADirectoryCannotBeListed) {
    HostMachine_Reset();
    ResetTestMap();
    ResetDriveClassState();
    TempTree disk, program;
    ASSERT_TRUE(disk.AddFile("Big/inside.txt"));
    ASSERT_TRUE(disk.AddFile("after.txt"));
    ASSERT_TRUE(program.AddFile("PWDRVMAP.DAT", "the previous map"));
    ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk.Root().c_str()));
    ASSERT_TRUE(HostMachine_MapDrive('P', DRIVE_REMOVABLE, program.Root().c_str()));
    HostMachine_SetModuleFileName("P:\\HOST.EXE");

    FailListing failBig = {"/Big"};
    HostMachine_SetListingHook(FailListing::Hook, &failBig);
    EXPECT_FALSE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    HostMachine_SetListingHook(nullptr, nullptr);
    EXPECT_EQ(DRIVEMAP_NO_MEMORY, DriveMap_GetError());
    EXPECT_EQ("the previous map", program.ReadFile("PWDRVMAP.DAT"));

    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));  // memory back: the whole tree
    EntryPosition position;
    EXPECT_TRUE(DriveMap_GetEntry(0, "C:\\Big\\inside.txt", &position));
    ResetTestMap();
    HostMachine_Reset();
}

}  // namespace
