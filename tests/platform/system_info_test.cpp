// System information: version, directories and module name with Win32's size conventions.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SystemInfo, VersionDirectoriesAndModuleName) {
    HostMachine_Reset();
    HostMachine_SetVersion(0xC3B60004);
    EXPECT_EQ(GetVersion(), 0xC3B60004u);
    char buffer[32];
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
    EXPECT_STREQ(buffer, "C:\\WINDOWS");

    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u) << "none set";
    HostMachine_SetModuleFileName("C:\\APPS\\CLEAN.EXE");  // 17 characters
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 10), 10u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "C:\\APPS\\C");
    EXPECT_EQ(buffer[10], '#');
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 18), 17u);
    EXPECT_STREQ(buffer, "C:\\APPS\\CLEAN.EXE");
    HostMachine_Reset();
}
