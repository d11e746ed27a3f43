#include "mapfile/map_file.h"

#include "mapfile/map_file_format.h"
#include "scan/drive_class.h"
#include "support/file_system.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// Room for a backslash and the file name after the directory, within 299 characters.
BOOL LeavesRoomForFileName(LPCSTR directory) {
    return std::strlen(directory) + 1 + std::strlen(MAP_FILE_NAME) < PATH_BUFFER_SIZE;
}

// A directory the map file can go in: a full path off the network, with room for the name.
BOOL IsUsableDirectory(LPCSTR directory) {
    return IsFullPath(directory) && !IsNetworkDrive(directory) && LeavesRoomForFileName(directory);
}

}  // namespace

BOOL GetMapFilePath(LPSTR path) {
    CHAR program[PATH_BUFFER_SIZE];
    const DWORD cch = GetModuleFileNameA(nullptr, program, PATH_BUFFER_SIZE);
    if (cch == 0 || cch >= PATH_BUFFER_SIZE) program[0] = '\0';  // none, or cut: no usable directory
    RemoveLastPathComponent(program);
    GetTrueCasePath(path, program);

    BOOL outside = 0;
    if (!IsUsableDirectory(path)) {
        outside = 1;
        const UINT cchWindows = GetWindowsDirectoryA(path, PATH_BUFFER_SIZE);
        if (cchWindows == 0 || cchWindows >= PATH_BUFFER_SIZE) path[0] = '\0';
        if (!IsUsableDirectory(path)) FindFirstHardOrNetworkRoot(path);
    }
    AppendPathComponent(path, MAP_FILE_NAME);
    return outside;
}
