// What kind of drive a path lies on, and the few other questions asked about drives.
//
// Only DRIVE_CLASS_FIXED drives are mapped. On Windows 95 the substitution and lock questions go
// to the DOS layer through the VWIN32 device; on NT they are answered from GetDriveTypeA alone and
// no DOS call is ever made. The platform words and the device handle are module-wide, set on first
// use without a lock (the library runs on its caller's thread only).
#pragma once

#include <cstddef>  // offsetof; pwdvmp32.h uses it too, and <windows.h> does not bring it

#include "pwdvmp32.h"

// VWIN32's register block for DOS calls: the caller fills the input registers, the device returns
// the output registers; bit 0 of reg_Flags is the carry flag (set: the call failed). Layout fixed
// by the device: seven 32-bit fields in this order, 28 bytes.
typedef struct DIOC_REGISTERS {
    DWORD reg_EBX;  // in: drive number, 1 for A
    DWORD reg_EDX;  // out: device attribute word (4409h)
    DWORD reg_ECX;  // in: minor code (440Dh); out: lock permissions
    DWORD reg_EAX;  // in: DOS function; out: lock level (440Dh)
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;  // out: bit 0 carry
} DIOC_REGISTERS;

static_assert(sizeof(DIOC_REGISTERS) == 28, "VWIN32 register block is 28 bytes");
static_assert(offsetof(DIOC_REGISTERS, reg_EAX) == 12, "reg_EAX at 12");
static_assert(offsetof(DIOC_REGISTERS, reg_Flags) == 24, "reg_Flags at 24");

#define DOS_FLAG_CARRY 0x0001u
#define DOS_IOCTL_DEVICE_REMOTE 0x4409u   // check whether a block device is remote
#define DOS_IOCTL_GENERIC_BLOCK 0x440Du   // generic block-device request
#define DOS_MINOR_GET_LOCK_STATE 0x0870u  // category 08h, minor 70h
#define DOS_ATTR_SUBST 0x8000u            // device attribute bit 15: substituted drive
#define DOS_LOCK_LEVEL_NONE 0xFFFFu       // lock level of a drive that is not locked

// The class (DRIVE_CLASS_*) of the drive that `path` lies on: a root "x:\" or any full path;
// only the part up to the first colon counts. Never touches the medium.
DWORD ClassifyDrive(LPCSTR path);

// 1 when the path's drive is a plain local hard disk (DRIVE_CLASS_FIXED), the drives mapped.
BOOL IsLocalHardDrive(LPCSTR path);

// 1 when the path's drive is a network drive (DRIVE_CLASS_REMOTE).
BOOL IsNetworkDrive(LPCSTR path);

// 1 when, off NT, the DOS layer reports the path's drive as substituted. 0 on NT (no DOS call),
// and when the DOS layer cannot be asked.
BOOL IsSubstDrive(LPCSTR path);

// PLATFORM_WIN32S, PLATFORM_WIN95 or PLATFORM_NT, worked out from GetVersion on the first call.
DWORD GetPlatform(void);

// One DOS device-control call through VWIN32. No result of its own: the caller reads the carry
// bit of *pOut, which is set when the device cannot be opened or the call fails. The device is
// opened on the first call and kept open; a failed open is not retried.
void CallDosIoctl(DIOC_REGISTERS *pOut, const DIOC_REGISTERS *pIn);

// Reads the lock level and lock permissions of the path's drive into the words given (either
// pointer may be none). Returns 1 when read; 0 on NT or when the call fails, with the level set to
// 0xFFFF (not locked) and the permissions to 0.
BOOL GetDriveLockState(LPCSTR path, WORD *pLockLevel, WORD *pPermissions);

// 1 when the path's drive is currently locked; on NT, and when the state cannot be read, 0.
BOOL IsDriveLocked(LPCSTR path);

// Fills `root` (at least 4 bytes) with "x:\" for the first drive, A to Z, that is a hard disk, a
// substituted drive or a network drive; "C:\" when there is none. Returns `root`.
LPSTR FindFirstHardOrNetworkRoot(LPSTR root);

// The full path of `path` from GetFullPathNameA, which follows substituted drives to their target,
// into `dest` (300 bytes). Refuses rather than truncates: a result that does not fit returns 0 with
// `dest` holding the empty string. 1 on success.
BOOL GetFullPath(LPSTR dest, LPCSTR path);

// For tests only: forgets the platform and closes the VWIN32 device, so that the next call works
// them out afresh as in a new process. Returns 1 when the device had been opened, or an open tried,
// since the last reset; 0 when no DOS call was made.
BOOL ResetDriveClassState(void);
