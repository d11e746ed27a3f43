// The library's exports that drivemap calls, looked up once by name after the library is loaded,
// as a Windows program would with GetProcAddress.
#pragma once

#include "drive_map_library.h"
#include "map_records.h"

#include <string>

namespace drivemap {

struct LibraryExports {
    DWORD(WINAPI *GetError)(void) = nullptr;
    DWORD(WINAPI *GetDirtyFlag)(void) = nullptr;
    void(WINAPI *FreeAll)(void) = nullptr;
    BOOL(WINAPI *ReadAll)(DWORD) = nullptr;
    BOOL(WINAPI *WriteAll)(DWORD, DWORD) = nullptr;
    BOOL(WINAPI *BuildAll)(void *, FileCallback, DirCallback) = nullptr;
    BOOL(WINAPI *SyncAll)(void *, FileCallback, DirCallback) = nullptr;
    GetEntryFunction GetEntry = nullptr;
    BOOL(WINAPI *GetFullPath)(LPSTR, const EntryPosition *) = nullptr;
    BOOL(WINAPI *GetEntryReferences)(DWORD, LPCSTR, EntryPosition *, ReferenceResultBlock **, DWORD) = nullptr;
    BOOL(WINAPI *DeleteEntry)(DWORD, LPCSTR) = nullptr;
    BOOL(WINAPI *UpdateEntry)(DWORD, LPCSTR) = nullptr;
    BOOL(WINAPI *IncrementEntryUsageCount)(DWORD, LPCSTR, DWORD) = nullptr;
    BOOL(WINAPI *Move)(LPCSTR, LPCSTR) = nullptr;
    BOOL(WINAPI *SearchForFile)(LPSTR, LPCSTR, LPCSTR, DWORD) = nullptr;
    void(WINAPI *SearchDirectory)(void *, LPCSTR, LPCSTR, DWORD, FileCallback, DirCallback, LONG) = nullptr;
    BOOL(WINAPI *GetFilesWithExtension)(LPCSTR, LPSTR *) = nullptr;
    BOOL(WINAPI *SearchAllDirForMyFiles)(MyFileQuery *, LONG) = nullptr;
    void(WINAPI *DeleteAllocatedMemory)(MyFileQuery *, LONG) = nullptr;

    // Looks every one up; false with `error` naming the first that is missing.
    bool Resolve(const DriveMapLibrary &library, std::string &error);
};

}  // namespace drivemap
