#include "scan/drive_class.h"

#include "store/module_state.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

const DWORD VWIN32_DIOC_DOS_IOCTL = 1;  // VWIN32 service: interrupt 21h function 44h

// 1 for A, 2 for B, ... from the path's first character.
DWORD DriveNumberOfPath(LPCSTR path) {
    return static_cast<DWORD>(static_cast<BYTE>(CharUpperOne(path[0]))) - ('A' - 1);
}

BOOL IsUsableHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

}  // namespace

DWORD GetPlatform(void) {
    if (!gPlatformKnown) {
        DWORD version = GetVersion();
        if ((version & 0x80000000u) == 0)
            gPlatform = PLATFORM_NT;
        else if ((version & 0xFFu) < 4)
            gPlatform = PLATFORM_WIN32S;
        else
            gPlatform = PLATFORM_WIN95;
        gPlatformKnown = 1;
    }
    return gPlatform;
}

void CallDosIoctl(DIOC_REGISTERS *pOut, const DIOC_REGISTERS *pIn) {
    memset(pOut, 0, sizeof *pOut);
    if (gVwin32Device == nullptr)
        gVwin32Device = CreateFileA("\\\\.\\VWIN32", 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);

    DWORD cbReturned = 0;
    if (!IsUsableHandle(gVwin32Device) ||
        !DeviceIoControl(gVwin32Device, VWIN32_DIOC_DOS_IOCTL, const_cast<DIOC_REGISTERS *>(pIn), sizeof *pIn, pOut,
                         sizeof *pOut, &cbReturned, nullptr))
        pOut->reg_Flags |= DOS_FLAG_CARRY;
}

BOOL IsSubstDrive(LPCSTR path) {
    DWORD drive = DriveNumberOfPath(path);
    if (GetPlatform() == PLATFORM_NT) return 0;

    DIOC_REGISTERS in, out;
    memset(&in, 0, sizeof in);
    in.reg_EBX = drive;
    in.reg_EDX = 0;
    in.reg_EAX = DOS_IOCTL_DEVICE_REMOTE;
    CallDosIoctl(&out, &in);
    return (out.reg_Flags & DOS_FLAG_CARRY) == 0 && (out.reg_EDX & DOS_ATTR_SUBST) != 0;
}

DWORD ClassifyDrive(LPCSTR path) {
    char root[PATH_BUFFER_SIZE];
    GetPathRoot(root, path);

    switch (GetDriveTypeA(root)) {
    case DRIVE_REMOVABLE: return DRIVE_CLASS_REMOVABLE;
    case DRIVE_FIXED: return IsSubstDrive(path) ? DRIVE_CLASS_SUBST : DRIVE_CLASS_FIXED;
    case DRIVE_REMOTE: return DRIVE_CLASS_REMOTE;
    case DRIVE_CDROM: return DRIVE_CLASS_CDROM;
    case DRIVE_RAMDISK: return DRIVE_CLASS_RAMDISK;
    default: return DRIVE_CLASS_NONE;
    }
}

BOOL IsLocalHardDrive(LPCSTR path) { return ClassifyDrive(path) == DRIVE_CLASS_FIXED; }

BOOL IsNetworkDrive(LPCSTR path) { return ClassifyDrive(path) == DRIVE_CLASS_REMOTE; }

BOOL GetDriveLockState(LPCSTR path, WORD *pLockLevel, WORD *pPermissions) {
    WORD level = DOS_LOCK_LEVEL_NONE;
    WORD permissions = 0;
    BOOL fRead = 0;

    if (GetPlatform() != PLATFORM_NT) {
        DIOC_REGISTERS in, out;
        memset(&in, 0, sizeof in);
        in.reg_EBX = DriveNumberOfPath(path);
        in.reg_ECX = DOS_MINOR_GET_LOCK_STATE;
        in.reg_EAX = DOS_IOCTL_GENERIC_BLOCK;
        CallDosIoctl(&out, &in);
        if ((out.reg_Flags & DOS_FLAG_CARRY) == 0) {
            level = static_cast<WORD>(out.reg_EAX);
            permissions = static_cast<WORD>(out.reg_ECX);
            fRead = 1;
        }
    }

    if (pLockLevel) *pLockLevel = level;
    if (pPermissions) *pPermissions = permissions;
    return fRead;
}

BOOL IsDriveLocked(LPCSTR path) {
    WORD level;
    GetDriveLockState(path, &level, nullptr);
    return level != DOS_LOCK_LEVEL_NONE;
}

LPSTR FindFirstHardOrNetworkRoot(LPSTR root) {
    memcpy(root, "x:\\", 4);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        root[0] = letter;
        DWORD cls = ClassifyDrive(root);
        if (cls == DRIVE_CLASS_FIXED || cls == DRIVE_CLASS_SUBST || cls == DRIVE_CLASS_REMOTE) return root;
    }
    root[0] = 'C';
    return root;
}

BOOL GetFullPath(LPSTR dest, LPCSTR path) {
    LPSTR pFilePart = nullptr;
    DWORD cch = GetFullPathNameA(path, PATH_BUFFER_SIZE, dest, &pFilePart);
    // Win32 returns the size it would need, without writing, when the buffer is too small.
    if (cch == 0 || cch >= PATH_BUFFER_SIZE) {
        dest[0] = '\0';
        return 0;
    }
    return 1;
}

BOOL ResetDriveClassState(void) {
    BOOL fOpened = gVwin32Device != nullptr;
    if (IsUsableHandle(gVwin32Device)) CloseHandle(gVwin32Device);
    gVwin32Device = nullptr;
    gPlatform = 0;
    gPlatformKnown = 0;
    return fOpened;
}
