// The library's 29 exports under the names PWDVMP32.DLL exports them, in ordinal order: ordinals
// run from 1 in the byte order of the names, so the fixed mangled callbacks and comparers come
// before the stdcall names with their argument bytes.
#pragma once

#include <string>

inline const char *const kExportNames[] = {
    "?BuildCallback@@YGHPAXPADPAUFIND_DATA@@J@Z",
    "?BuildDirCallback@@YGHPAXIPAD1J@Z",
    "?CompareListEntries@@YGHPAX0K@Z",
    "?CompareListEntriesHuge@@YGHPAX0K@Z",
    "?SyncCallback@@YGHPAXPADPAUFIND_DATA@@J@Z",
    "?SyncDirCallback@@YGHPAXIPAD1J@Z",
    "_Delete_Allocated_Memory@8",
    "_DriveMap_BuildAll@12",
    "_DriveMap_DeleteEntry@8",
    "_DriveMap_FreeAll@0",
    "_DriveMap_GetCritical@0",
    "_DriveMap_GetDirtyFlag@0",
    "_DriveMap_GetEntry@12",
    "_DriveMap_GetEntryReferences@20",
    "_DriveMap_GetError@0",
    "_DriveMap_GetFilesWithExtension@8",
    "_DriveMap_GetFullPath@8",
    "_DriveMap_IncrementEntryUsageCount@12",
    "_DriveMap_Move@8",
    "_DriveMap_ReadAll@4",
    "_DriveMap_RegisterAsClient@0",
    "_DriveMap_SearchDirectory@28",
    "_DriveMap_SearchForFile@16",
    "_DriveMap_SyncAll@12",
    "_DriveMap_UnRegisterAsClient@0",
    "_DriveMap_UpdateEntry@8",
    "_DriveMap_UpdateSystemIniEntry@0",
    "_DriveMap_WriteAll@8",
    "_SearchAllDirForMyFiles@8",
};

// The name the shared library exports the same function under: "_DriveMap_GetError@0" and
// "?BuildCallback@@YG..." are DriveMap_GetError and BuildCallback.
inline std::string PlainExportName(const std::string &exported) {
    const size_t first = exported[0] == '_' || exported[0] == '?' ? 1 : 0;
    return exported.substr(first, exported.find('@', first) - first);
}
