#include "drive_map_library.h"

#include <dlfcn.h>

#include <cstddef>
#include <filesystem>
#include <vector>

namespace drivemap {
namespace {

// The directories the dynamic linker searches for drivemap's own libraries, in its order:
// LD_LIBRARY_PATH, drivemap's run path with $ORIGIN expanded (the library directory relative to
// the executable), the system's. Asked for explicitly because dlopen of a bare name searches the
// run path of its caller, which under a sanitizer is the sanitizer's runtime, not drivemap.
std::vector<std::string> LibrarySearchPath() {
    std::vector<std::string> directories;
    void *self = dlopen(nullptr, RTLD_NOW);
    Dl_serinfo size;
    if (self == nullptr || dlinfo(self, RTLD_DI_SERINFOSIZE, &size) != 0) return directories;
    std::vector<std::max_align_t> buffer(size.dls_size / sizeof(std::max_align_t) + 1);
    auto *info = reinterpret_cast<Dl_serinfo *>(buffer.data());
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, info) == 0 && dlinfo(self, RTLD_DI_SERINFO, info) == 0)
        for (unsigned i = 0; i < info->dls_cnt; ++i) directories.emplace_back(info->dls_serpath[i].dls_name);
    return directories;
}

}  // namespace

DriveMapLibrary::~DriveMapLibrary() {
    if (handle_ == nullptr || leaveToExit_) return;
    std::string ignored;
    if (auto unregister = Export<void(WINAPI *)(void)>("DriveMap_UnRegisterAsClient", ignored)) unregister();
    dlclose(handle_);
}

bool DriveMapLibrary::Load(std::string &error) {
    std::error_code ec;
    const std::vector<std::string> directories = LibrarySearchPath();
    for (const std::string &directory : directories) {
        const std::string path = directory + "/" + PWDVMP32_LIBRARY_SONAME;
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
    error = std::string("cannot find ") + PWDVMP32_LIBRARY_SONAME + " in";
    for (const std::string &directory : directories) error += " " + directory;
    return false;
}

void *DriveMapLibrary::Symbol(const char *name, std::string &error) const {
    void *symbol = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
    if (symbol == nullptr) error = std::string("the library has no export ") + name;
    return symbol;
}

}  // namespace drivemap
