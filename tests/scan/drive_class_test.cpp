#include "scan/drive_class.h"

#include "host_machine.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

const unsigned long VERSION_NT4 = 0x05650004, VERSION_WIN95 = 0xC3B60004;

// The platform and the device handle are process-wide, set on first use: every test starts as a
// freshly loaded module on a fresh machine.
class DriveClassTest : public ::testing::Test {
protected:
    void SetUp() override { ResetDriveClassState(), HostMachine_Reset(); }
    void TearDown() override { ResetDriveClassState(), HostMachine_Reset(); }
    void Map(char letter, unsigned type, bool medium = true) {
        ASSERT_EQ(1, HostMachine_MapDrive(letter, type, medium ? ::testing::TempDir().c_str() : NULL));
    }
};

// A substituted drive S and a drive C locked at level 1, on each platform the DOS layer matters to.
TEST_F(DriveClassTest, SubstAndLockNeedWindows95AndItsDevice) {
    const struct {
        unsigned long version;
        int vwin32;
        DWORD substClass;
        BOOL locked, deviceOpened;
    } cases[] = {
        {VERSION_WIN95, 1, DRIVE_CLASS_SUBST, 1, 1},
        {VERSION_WIN95, 0, DRIVE_CLASS_FIXED, 0, 1},  // open tried, failed: nothing substituted or locked
        {VERSION_NT4, 1, DRIVE_CLASS_FIXED, 0, 0},    // NT never asks, even if a device answered
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + (c.vwin32 ? " with VWIN32" : " without VWIN32"));
        SetUp();
        HostMachine_SetVersion(c.version), HostMachine_SetVwin32(c.vwin32);
        Map('C', DRIVE_FIXED), Map('D', DRIVE_FIXED);
        ASSERT_EQ(1, HostMachine_SubstDrive('S', "C:\\DATA"));
        HostMachine_SetDriveLocked('C', 1);
        EXPECT_EQ(c.substClass, ClassifyDrive("s:\\dir\\file.txt"));
        EXPECT_EQ(c.substClass == DRIVE_CLASS_SUBST, IsSubstDrive("S:\\"));
        EXPECT_EQ(c.substClass == DRIVE_CLASS_FIXED, IsLocalHardDrive("S:\\"));
        EXPECT_EQ(ClassifyDrive("C:\\"), DRIVE_CLASS_FIXED);
        EXPECT_FALSE(IsDriveLocked("D:\\"));
        EXPECT_EQ(c.locked, IsDriveLocked("c:\\windows"));
        WORD level = 0, permissions = 7;
        EXPECT_EQ(c.locked, GetDriveLockState("C:\\", &level, &permissions));
        EXPECT_EQ(std::make_pair(level, permissions), std::make_pair(WORD(c.locked ? 1 : 0xFFFF), WORD(0)));
        HostMachine_SetVwin32(1);  // a failed open is not retried
        EXPECT_EQ(c.substClass, ClassifyDrive("S:\\"));
        EXPECT_EQ(c.deviceOpened, ResetDriveClassState());
    }
}

TEST_F(DriveClassTest, FullPathFollowsSubstAndRefusesOverlong) {
    Map('C', DRIVE_FIXED);
    ASSERT_EQ(1, HostMachine_SubstDrive('S', "C:\\DATA"));
    char buffer[700];
    EXPECT_TRUE(GetFullPath(buffer, "S:\\SUB\\FILE.TXT"));
    EXPECT_STREQ(buffer, "C:\\DATA\\SUB\\FILE.TXT");
    // 299 characters fit in 300 bytes; longer results are refused and nothing lands past 300.
    for (size_t length : {299u, 300u, 650u}) {
        std::string path = "C:\\" + std::string(length - 3, 'a');
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(length < 300, GetFullPath(buffer, path.c_str())) << length;
        EXPECT_EQ(length < 300 ? path : "", buffer);
        EXPECT_EQ(std::string(sizeof buffer - 300, '#'), std::string(buffer + 300, sizeof buffer - 300));
    }
}

}  // namespace
