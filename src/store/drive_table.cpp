#include "store/drive_table.h"

#include "store/module_state.h"

#include <cstring>

static BYTE UpperLetter(CHAR ch) {
    // CharUpperA takes a single character in the low word of its argument.
    return static_cast<BYTE>(
        reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<BYTE>(ch))))));
}

DriveRecord *AddDriveRecord(LPCSTR path) {
    const DWORD count = gDriveTable.dwCount;
    if (count >= 26) return nullptr;
    DriveRecord *drive = &gDriveTable.records[count];
    gDriveTable.dwCount = count + 1;
    std::memset(drive, 0, sizeof *drive);
    drive->chLetter = UpperLetter(path[0]);
    gDirtyFlag = 1;
    return drive;
}

DriveRecord *FindDriveRecord(LPCSTR path) {
    if (path == nullptr || path[0] == '\0' || path[1] != ':') return nullptr;
    const BYTE letter = UpperLetter(path[0]);
    const DWORD count = gDriveTable.dwCount < 26 ? gDriveTable.dwCount : 26;
    for (DWORD i = 0; i < count; ++i) {
        if (UpperLetter(static_cast<CHAR>(gDriveTable.records[i].chLetter)) == letter) return &gDriveTable.records[i];
    }
    return nullptr;
}
