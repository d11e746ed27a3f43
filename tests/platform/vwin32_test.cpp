// The VWIN32 device: who may open it and what its DOS device-control calls answer.
#include "common/temp_tree.h"
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct DiocRegisters {
    DWORD reg_EBX, reg_EDX, reg_ECX, reg_EAX, reg_EDI, reg_ESI, reg_Flags;
};
static_assert(sizeof(DiocRegisters) == 28);

class Vwin32 : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ASSERT_TRUE(tree.AddDir("data"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree.Root().c_str()));
        HostMachine_SetVersion(0xC3B60004), HostMachine_SetVwin32(1);
        device = CreateFileA("\\\\.\\vwin32", 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        HostMachine_Reset();
    }
    // One DOS call as the library makes it; the output block.
    DiocRegisters Call(DWORD eax, char drive, DWORD ecx = 0) {
        DiocRegisters in{DWORD(drive - 'A' + 1), 0, ecx, eax, 0, 0, 0}, out;
        memset(&out, 0xEE, sizeof out);
        DWORD returned = 0;
        EXPECT_TRUE(DeviceIoControl(device, 1, &in, sizeof in, &out, sizeof out, &returned, nullptr));
        EXPECT_TRUE(returned == sizeof out);
        return out;
    }
    TempTree tree;
    HANDLE device = INVALID_HANDLE_VALUE;
};

// The substitution and lock queries the library makes are checked through its drive classes; here
// what they do not reach: unknown drives and other calls are refused with the carry flag set.
TEST_F(Vwin32, RefusesWhatItDoesNotServeAndOpensOnlyWhenPresent) {
    EXPECT_EQ(Call(0x4409, 'Q').reg_Flags & 1, 1u) << "no such drive";
    EXPECT_EQ(Call(0x440D, 'Q', 0x0870).reg_Flags & 1, 1u);
    EXPECT_EQ(Call(0x440D, 'C', 0x0866).reg_Flags & 1, 1u) << "other minor codes are not served";
    EXPECT_EQ(Call(0x4400, 'C').reg_Flags & 1, 1u);
    DiocRegisters in{3, 0, 0, 0x4409, 0, 0, 0}, out;
    DWORD returned;
    EXPECT_FALSE(DeviceIoControl(device, 2, &in, sizeof in, &out, sizeof out, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(device, 1, &in, 27, &out, sizeof out, &returned, nullptr));
    // Only the device opens, and only when the machine has it.
    SetLastError(0);
    EXPECT_EQ(CreateFileA("C:\\data", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    HostMachine_SetVwin32(0);
    EXPECT_EQ(CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

}  // namespace
