// System information: version, directories and module name with Win32's size conventions.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

class SystemInfo : public ::testing::Test {
protected:
    void SetUp() override { HostMachine_Reset(); }
    void TearDown() override { HostMachine_Reset(); }
};

TEST_F(SystemInfo, VersionAndDirectories) {
    EXPECT_EQ(GetVersion(), 0x05650004u);
    HostMachine_SetVersion(0xC3B60004);
    EXPECT_EQ(GetVersion(), 0xC3B60004u);

    char buffer[32];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM32");
    HostMachine_SetWindowsDirectory("D:\\WIN95");
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 8), 9u) << "too small: the size needed, NUL included";
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 9), 8u);
    EXPECT_STREQ(buffer, "D:\\WIN95");

    HostMachine_Reset();
    EXPECT_EQ(GetVersion(), 0x05650004u);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
}

TEST_F(SystemInfo, ModuleFileNameIsCutToTheBuffer) {
    char buffer[16];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u) << "none set";
    HostMachine_SetModuleFileName("C:\\APPS\\CLEAN.EXE");  // 17 characters
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 10), 10u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "C:\\APPS\\C");
    EXPECT_EQ(buffer[10], '#');
    char full[18];
    EXPECT_EQ(GetModuleFileNameA(nullptr, full, sizeof full), 17u);
    EXPECT_STREQ(full, "C:\\APPS\\CLEAN.EXE");
}

TEST_F(SystemInfo, LastErrorBelongsToTheThread) {
    SetLastError(42);
    DWORD seenByOther = 1;
    std::thread other([&seenByOther] {
        seenByOther = GetLastError();
        SetLastError(7);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

}  // namespace
