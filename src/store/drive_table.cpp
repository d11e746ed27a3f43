#include "store/drive_table.h"

#include "support/path_utils.h"

#include <cstring>

DriveRecord *AddDriveRecord(LPCSTR path) {
    const DWORD count = gDriveTable.dwCount;
    if (count >= DRIVE_TABLE_SIZE) return nullptr;
    DriveRecord *drive = &gDriveTable.records[count];
    gDriveTable.dwCount = count + 1;
    std::memset(drive, 0, sizeof *drive);
    drive->chLetter = static_cast<BYTE>(CharUpperOne(path[0]));
    gDirtyFlag = 1;
    return drive;
}

DriveRecord *FindDriveRecord(LPCSTR path) {
    if (path == nullptr || path[0] == '\0' || path[1] != ':') return nullptr;
    const BYTE letter = static_cast<BYTE>(CharUpperOne(path[0]));
    for (DWORD i = 0; i < DriveCount(); ++i) {
        if (static_cast<BYTE>(CharUpperOne(static_cast<CHAR>(gDriveTable.records[i].chLetter))) == letter)
            return &gDriveTable.records[i];
    }
    return nullptr;
}

DriveRecord *FindDriveByRoot(const DirectoryBlock *root) {
    for (DWORD i = 0; i < DriveCount(); ++i)
        if (GetDriveRoot(&gDriveTable.records[i]) == root) return &gDriveTable.records[i];
    return nullptr;
}
