// Memory running out while a scan lists a directory: the directory is not mapped as empty (which
// would drop everything in it and, in a sync, what the map knew of it); the scan stops with error
// 3 and saves nothing. The listing hook makes the allocations fail (common/failing_allocator.h)
// between a directory's lookup and its reading.
#include "common/failing_allocator.h"
#include "common/temp_tree.h"
#include "scan/drive_class.h"
#include "store/store_fixture.h"

#include <cstring>

namespace {

struct FailListing {
    const char *directory;  // the host directory whose listing runs out of memory
    static void Hook(void *context, const char *hostDirectory) {
        const char *wanted = static_cast<FailListing *>(context)->directory;
        const size_t cch = std::strlen(hostDirectory);
        if (cch >= std::strlen(wanted) && std::strcmp(hostDirectory + cch - std::strlen(wanted), wanted) == 0)
            FailAllocationsAfter(0);
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
    FailAllocationsAfter(-1);
    EXPECT_EQ(DRIVEMAP_NO_MEMORY, DriveMap_GetError());
    EXPECT_EQ("the previous map", program.ReadFile("PWDRVMAP.DAT"));

    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));  // memory back: the whole tree
    EntryPosition position;
    EXPECT_TRUE(DriveMap_GetEntry(0, "C:\\Big\\inside.txt", &position));
    ResetTestMap();
    HostMachine_Reset();
}

}  // namespace
