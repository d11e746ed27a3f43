// The Windows 95 VWIN32 device: CreateFileA("\\\\.\\VWIN32") and its DOS device-control
// service (DeviceIoControl code 1, interrupt 21h function 44h). It answers the two questions the
// library asks: 4409h (is the drive substituted: bit 15 of DX) and 440Dh minor 70h (the drive's
// lock level in AX, permissions in CX). Anything else fails with the carry flag, as DOS does for
// a function it does not support.
#include "vwin32_device.h"

#include "drives.h"
#include "host_errors.h"
#include "host_machine.h"
#include "text_codepages.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The register block of VWIN32's DOS services, in the order the device expects.
struct DiocRegisters {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};
static_assert(sizeof(DiocRegisters) == 28, "VWIN32 register block is 28 bytes");

constexpr DWORD VWIN32_DIOC_DOS_IOCTL = 1;
constexpr DWORD kCarryFlag = 0x0001;
constexpr DWORD kDosInvalidFunction = 0x01;
constexpr DWORD kDosInvalidDrive = 0x0F;
constexpr DWORD kDeviceAttrSubstituted = 0x8000;
constexpr unsigned kNotLocked = 0xFFFF;
constexpr uintptr_t kFirstDeviceHandle = 0x56570000;  // "VW": never a pointer of ours

struct DeviceState {
    bool fVwin32Present = false;
    unsigned lockLevel[26];
    std::vector<HANDLE> openHandles;  // survive HostMachine_Reset, like the library's copy
    uintptr_t uNextHandle = kFirstDeviceHandle;

    DeviceState() { ClearLocks(); }
    void ClearLocks() {
        for (unsigned &level : lockLevel) level = kNotLocked;
    }
};

std::mutex g_mutex;  // guards the state

// Never destroyed: the library may close the device while being unloaded at exit.
DeviceState &State() {
    static auto *pState = new DeviceState;
    return *pState;
}

bool IsOpenHandle(HANDLE h) {
    for (HANDLE open : State().openHandles) {
        if (open == h) return true;
    }
    return false;
}

bool SameTextNoCase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        if (host::ToUpperAnsi(static_cast<unsigned char>(*a)) != host::ToUpperAnsi(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// Drive letter of a DOS drive number in BL (1 = A); 0 for the default drive or a bad number,
// which the library never passes.
char DriveLetter(DWORD ebx) {
    unsigned n = ebx & 0xFF;
    return n >= 1 && n <= 26 ? static_cast<char>('A' + n - 1) : 0;
}

void Fail(DiocRegisters *pRegs, DWORD dosError) {
    pRegs->reg_EAX = (pRegs->reg_EAX & 0xFFFF0000u) | dosError;
    pRegs->reg_Flags |= kCarryFlag;
}

// One interrupt 21h function 44h call, answered in place.
void DosIoctl(DiocRegisters *pRegs) {
    pRegs->reg_Flags &= ~kCarryFlag;
    char letter = DriveLetter(pRegs->reg_EBX);
    switch (pRegs->reg_EAX & 0xFFFF) {
    case 0x4409:  // is block device remote: device attribute word in DX
        if (!letter || !host::IsMappedDrive(letter)) {
            Fail(pRegs, kDosInvalidDrive);
            return;
        }
        pRegs->reg_EDX = host::IsSubstitutedDrive(letter) ? kDeviceAttrSubstituted : 0;
        return;
    case 0x440D:                                    // generic block device request
        if ((pRegs->reg_ECX & 0xFFFF) != 0x0870) {  // only "get lock state"
            Fail(pRegs, kDosInvalidFunction);
            return;
        }
        if (!letter || !host::IsMappedDrive(letter)) {
            Fail(pRegs, kDosInvalidDrive);
            return;
        }
        {
            std::lock_guard<std::mutex> guard(g_mutex);
            pRegs->reg_EAX = State().lockLevel[letter - 'A'];
        }
        pRegs->reg_ECX = 0;
        return;
    default: Fail(pRegs, kDosInvalidFunction); return;
    }
}

}  // namespace

namespace host {

void ResetDevices() {
    std::lock_guard<std::mutex> guard(g_mutex);
    State().fVwin32Present = false;
    State().ClearLocks();
}

}  // namespace host

extern "C" {

void HostMachine_SetDriveLocked(char letter, unsigned level) {
    unsigned char upper = host::ToUpperAnsi(static_cast<unsigned char>(letter));
    if (upper < 'A' || upper > 'Z') return;
    std::lock_guard<std::mutex> guard(g_mutex);
    State().lockLevel[upper - 'A'] = level & 0xFFFF;
}

void HostMachine_SetVwin32(int present) {
    std::lock_guard<std::mutex> guard(g_mutex);
    State().fVwin32Present = present != 0;
}

// Opens only the VWIN32 device, and only while the machine has it (ERROR_FILE_NOT_FOUND
// otherwise). Files are opened through _lopen; any other name fails with ERROR_ACCESS_DENIED.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    return host::Guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        if (!lpFileName || !SameTextNoCase(lpFileName, "\\\\.\\VWIN32")) {
            SetLastError(lpFileName ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        std::lock_guard<std::mutex> guard(g_mutex);
        DeviceState &state = State();
        if (!state.fVwin32Present) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE h = reinterpret_cast<HANDLE>(state.uNextHandle);
        state.openHandles.push_back(h);
        state.uNextHandle += 4;
        return h;
    });
}

// Code 1 with 28-byte register blocks in and out. The call itself succeeds whenever the block
// arrived; whether DOS did is the carry flag of the output block.
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (!IsOpenHandle(hDevice)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (dwIoControlCode != VWIN32_DIOC_DOS_IOCTL || !lpInBuffer || !lpOutBuffer ||
        nInBufferSize < sizeof(DiocRegisters) || nOutBufferSize < sizeof(DiocRegisters)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DiocRegisters regs;
    memcpy(&regs, lpInBuffer, sizeof regs);
    DosIoctl(&regs);
    memcpy(lpOutBuffer, &regs, sizeof regs);
    if (lpBytesReturned) *lpBytesReturned = sizeof regs;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    std::lock_guard<std::mutex> guard(g_mutex);
    std::vector<HANDLE> &open = State().openHandles;
    for (size_t i = 0; i < open.size(); ++i) {
        if (open[i] == hObject) {
            open.erase(open.begin() + static_cast<long>(i));
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // extern "C"
