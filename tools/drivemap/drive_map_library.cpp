#include "drive_map_library.h"

#include <dlfcn.h>

namespace drivemap {

DriveMapLibrary::~DriveMapLibrary() {
    if (handle_ == nullptr) return;
    std::string ignored;
    if (auto unregister = Export<void(WINAPI *)(void)>("DriveMap_UnRegisterAsClient", ignored)) unregister();
    dlclose(handle_);
}

bool DriveMapLibrary::Load(std::string &error) {
    // By its SONAME, so the dynamic linker searches drivemap's run path: the library directory
    // relative to the executable, in the build tree and once installed alike.
    handle_ = dlopen(PWDVMP32_LIBRARY_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = std::string("cannot load the library: ") + dlerror();
        return false;
    }
    auto registerClient = Export<void(WINAPI *)(void)>("DriveMap_RegisterAsClient", error);
    if (registerClient == nullptr) return false;
    registerClient();
    return true;
}

void *DriveMapLibrary::Symbol(const char *name, std::string &error) const {
    void *symbol = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
    if (symbol == nullptr) error = std::string("the library has no export ") + name;
    return symbol;
}

}  // namespace drivemap
