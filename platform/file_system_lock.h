// One lock for the whole emulated file system: every Win32 entry point of the file-system units
// (drives, paths, listings, searches, files) holds it, so that they see one consistent machine.
#pragma once

#include <mutex>

namespace host {

inline std::recursive_mutex &FileSystemLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace host
