#include "library_exports.h"

namespace drivemap {

bool LibraryExports::Resolve(const DriveMapLibrary &library, std::string &error) {
    bool complete = true;
    auto find = [&](auto &function, const char *name) {
        if (!complete) return;
        function = library.Export<std::remove_reference_t<decltype(function)>>(name, error);
        complete = function != nullptr;
    };
    find(GetError, "DriveMap_GetError");
    find(GetDirtyFlag, "DriveMap_GetDirtyFlag");
    find(FreeAll, "DriveMap_FreeAll");
    find(ReadAll, "DriveMap_ReadAll");
    find(WriteAll, "DriveMap_WriteAll");
    find(BuildAll, "DriveMap_BuildAll");
    find(SyncAll, "DriveMap_SyncAll");
    find(GetEntry, "DriveMap_GetEntry");
    find(GetFullPath, "DriveMap_GetFullPath");
    find(GetEntryReferences, "DriveMap_GetEntryReferences");
    find(DeleteEntry, "DriveMap_DeleteEntry");
    find(UpdateEntry, "DriveMap_UpdateEntry");
    find(IncrementEntryUsageCount, "DriveMap_IncrementEntryUsageCount");
    find(Move, "DriveMap_Move");
    find(SearchForFile, "DriveMap_SearchForFile");
    find(SearchDirectory, "DriveMap_SearchDirectory");
    find(GetFilesWithExtension, "DriveMap_GetFilesWithExtension");
    find(SearchAllDirForMyFiles, "SearchAllDirForMyFiles");
    find(DeleteAllocatedMemory, "Delete_Allocated_Memory");
    return complete;
}

}  // namespace drivemap
