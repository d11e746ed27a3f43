#include "drive_map_library.h"

#include <dlfcn.h>

#include <filesystem>

namespace drivemap {

DriveMapLibrary::~DriveMapLibrary() {
    if (handle_ == nullptr) return;
    std::string ignored;
    if (auto unregister = Export<void(WINAPI *)(void)>("DriveMap_UnRegisterAsClient", ignored)) unregister();
    dlclose(handle_);
}

bool DriveMapLibrary::Load(std::string &error) {
    std::error_code ec;
    const auto besideExecutable = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "libpwdvmp32.so";
    for (const std::string &path : {std::string(PWDVMP32_SHARED_LIBRARY), besideExecutable.string()}) {
        if (!std::filesystem::exists(path, ec)) continue;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            error = std::string("cannot load the library: ") + dlerror();
            return false;
        }
        auto registerClient = Export<void(WINAPI *)(void)>("DriveMap_RegisterAsClient", error);
        if (registerClient == nullptr) return false;
        registerClient();
        return true;
    }
    error = "cannot find libpwdvmp32.so (looked in " + std::string(PWDVMP32_SHARED_LIBRARY) + " and " +
            besideExecutable.string() + ")";
    return false;
}

void *DriveMapLibrary::Symbol(const char *name, std::string &error) const {
    void *symbol = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
    if (symbol == nullptr) error = std::string("the library has no export ") + name;
    return symbol;
}

}  // namespace drivemap
