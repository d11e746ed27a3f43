// Loading the library, the state exports, the release of the map and the export frame. Every case
// runs in a child process of its own, where the module's globals start at zero and a dlopen of the
// shared library really loads it.
#include "common/map_builder.h"
#include "common/map_invariants.h"
#include "exports/dll_main.h"
#include "host_machine.h"
#include "store/map_release.h"
#include "store/directory_blocks.h"
#include "store/export_frame.h"
#include "support/message_pump.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>

namespace {

// Runs `body` in a child process; its failed checks print there and fail the test here.
void RunIsolated(void (*body)()) {
    fflush(stdout);
    const pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        HostMachine_Reset();
        body();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status)) << "child ended with status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "child ended with status " << status;
}

// Drives C and D with directories and files, loaded and changed. Returns the global blocks before.
unsigned long BuildTwoDriveMap() {
    ResetTestMap();
    const unsigned long before = HostMachine_GlobalBlockCount();
    DirectoryBlock *c = BuildDrive('C');
    DirectoryBlock *sub = BuildDirectory(&c, "sub");
    BuildFile(&sub, "a.exe", 10, {"kernel32.dll"});
    DirectoryBlock *d = BuildDrive('D');
    BuildDirectory(&d, "data");
    EXPECT_TRUE(CheckMapInvariants());
    gLoadedFlag = gDirtyFlag = 1;
    return before;
}

void ExpectReleased(unsigned long before) {
    EXPECT_EQ(std::make_tuple(gLoadedFlag, gDirtyFlag, DWORD{gDriveTable.dwCount}, DWORD{gNextBlockId}, gShrinkPending,
                              (void *)gCurrentDrive, (void *)gLastBlock, (void *)GetChainHead()),
              std::make_tuple(0u, 0u, 0u, 0u, 0u, nullptr, nullptr, nullptr));
    EXPECT_EQ(before, HostMachine_GlobalBlockCount()) << "blocks of the map still live";
}

TEST(SharedLibrary, ExportsOnlyItsInterfaceAndUnloadsClean) {
    RunIsolated([] {
        const unsigned long before = HostMachine_GlobalBlockCount();
        void *library = dlopen(PWDVMP32_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        for (const char *internal : {"DllMain", "ReleaseMap", "SetCritical", "gCriticalFlag"})
            EXPECT_EQ(nullptr, dlsym(library, internal)) << internal << " leaks out of the library";
        for (const char *name : {"DriveMap_RegisterAsClient", "DriveMap_UnRegisterAsClient",
                                 "DriveMap_UnRegisterAsClient", "DriveMap_FreeAll"})
            reinterpret_cast<void(WINAPI *)(void)>(dlsym(library, name))();
        EXPECT_EQ(0, dlclose(library));
        EXPECT_EQ(before, HostMachine_GlobalBlockCount()) << "load and unload leave global memory";
    });
}

TEST(ModuleLoad, AttachKeepsInstanceAndDirectoriesThatFit) {
    RunIsolated([] {
        HINSTANCE instance = reinterpret_cast<HINSTANCE>(&gModuleInstance);
        const std::string fits = "C:\\" + std::string(296, 'w');     // 299 characters
        const std::string tooLong = "C:\\" + std::string(297, 's');  // 300: left empty, not cut
        HostMachine_SetWindowsDirectory(fits.c_str());
        HostMachine_SetSystemDirectory(tooLong.c_str());
        EXPECT_TRUE(DllMain(instance, DLL_PROCESS_ATTACH, nullptr));
        EXPECT_TRUE(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr));
        EXPECT_EQ(instance, gModuleInstance);
        EXPECT_EQ(fits, gWindowsDirectory);
        EXPECT_STREQ("", gSystemDirectory);
        EXPECT_TRUE(DllMain(instance, DLL_PROCESS_DETACH, nullptr));
    });
}

TEST(Clients, LastUnregistrationReleasesOnceAndNotWhileCritical) {
    RunIsolated([] {
        unsigned long before = BuildTwoDriveMap();
        const unsigned long withMap = HostMachine_GlobalBlockCount();
        DriveMap_RegisterAsClient(), DriveMap_RegisterAsClient(), DriveMap_UnRegisterAsClient();
        EXPECT_EQ(withMap, HostMachine_GlobalBlockCount());
        gErrorCode = DRIVEMAP_STOPPED, gOperationMode = MODE_QUERY;
        DriveMap_UnRegisterAsClient();
        ExpectReleased(before);
        EXPECT_EQ(std::make_pair(gErrorCode, gOperationMode),
                  std::make_pair(DWORD{DRIVEMAP_STOPPED}, DWORD{MODE_QUERY}))
            << "the release keeps both";
        // Critical: neither FreeAll nor the last unregistration releases, but the count drops.
        before = BuildTwoDriveMap();
        DriveMap_RegisterAsClient(), SetCritical(1), DriveMap_FreeAll(), DriveMap_UnRegisterAsClient();
        EXPECT_EQ(0u, gClientCount);
        EXPECT_EQ(std::make_tuple(DriveMap_GetCritical(), DriveMap_GetDirtyFlag(), gLoadedFlag),
                  std::make_tuple(1u, 1u, 1u));
        EXPECT_EQ(withMap, HostMachine_GlobalBlockCount());
        // A release run by an export's own work keeps the flag and the count.
        gClientCount = 3;
        ReleaseMap();
        ExpectReleased(before);
        EXPECT_EQ(std::make_pair(gCriticalFlag, gClientCount), std::make_pair(1u, 3u));
    });
}

// A window procedure that calls the library while an operation pumps messages.
int gCallbacks = 0;
LRESULT CALLBACK CallBackIntoLibrary(HWND, UINT, WPARAM, LPARAM) {
    ++gCallbacks;
    EXPECT_TRUE(IsNestedExport());
    DriveMap_GetFullPath(nullptr, nullptr);  // an export that clears the flag at top level
    DriveMap_FreeAll();
    DriveMap_UnRegisterAsClient();
    return 0;
}

TEST(ExportFrame, EndsAsDeclaredAndNestedCallsLeaveTheOperationProtected) {
    RunIsolated([] {
        gErrorCode = 0;  // whatever an earlier test in this process left
        {
            ExportFrame frame(MODE_DELETE, FRAME_CLEARS_CRITICAL);
            frame.fStoresCode = FALSE;
            frame.Fail(DRIVEMAP_NOT_FOUND);
        }
        EXPECT_EQ(0u, gCriticalFlag + gErrorCode);
        const unsigned long before = BuildTwoDriveMap();
        const unsigned long withMap = HostMachine_GlobalBlockCount();
        {
            ExportFrame frame(MODE_BUILD, FRAME_CLEARS_CRITICAL);
            const HWND window = HostMachine_CreateWindow(CallBackIntoLibrary);
            ASSERT_TRUE(PostMessageA(window, WM_USER, 0, 0));
            ASSERT_TRUE(PostMessageA(window, WM_USER, 1, 0));
            PumpMessages();
            EXPECT_EQ(2, gCallbacks) << "every posted message is dispatched";
            EXPECT_EQ(std::make_pair(gCriticalFlag, gOperationMode), std::make_pair(1u, DWORD{MODE_BUILD}));
            EXPECT_EQ(withMap, HostMachine_GlobalBlockCount());
            frame.Fail(DRIVEMAP_STOPPED);
        }
        EXPECT_EQ(std::make_pair(gCriticalFlag, gErrorCode), std::make_pair(0u, DWORD{DRIVEMAP_STOPPED}));
        EXPECT_TRUE(CheckMapInvariants());
        ResetTestMap();
        EXPECT_EQ(before, HostMachine_GlobalBlockCount());
    });
}

}  // namespace
