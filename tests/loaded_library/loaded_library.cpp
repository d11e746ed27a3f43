#include "loaded_library/loaded_library.h"

#include "common/export_names.h"

#include <dlfcn.h>

#include <cstring>

int LoadedLibrary::ResolveExports(std::string *error) {
    const auto exportedName = [](const char *plain) {
        for (const char *name : kExportNames)
            if (PlainExportName(name) == plain) return std::string(name);
        return std::string();
    };
#define DRIVE_MAP_EXPORT(name)                                                            \
    exports_.name = reinterpret_cast<decltype(exports_.name)>(Find(exportedName(#name))); \
    if (exports_.name == nullptr) *error += " " #name;
#include "loaded_library/export_list.inc"
#undef DRIVE_MAP_EXPORT
    return error->empty();
}

namespace {

class SharedObject final : public LoadedLibrary {
public:
    static std::unique_ptr<LoadedLibrary> Load(std::string *error) {
        std::unique_ptr<SharedObject> library(new SharedObject);
        library->handle_ = dlopen(PWDVMP32_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library->handle_ == nullptr) return *error = dlerror(), nullptr;
        if (!library->ResolveExports(error)) return *error = "missing exports:" + *error, nullptr;
        return library;
    }
    ~SharedObject() override {
        if (handle_ != nullptr) dlclose(handle_);
    }
    void *Find(const std::string &exportedName) const override {
        return dlsym(handle_, PlainExportName(exportedName).c_str());
    }

private:
    void *handle_ = nullptr;
};

}  // namespace

#ifdef PWDVMP32_LOADS_DLL
#include "dll_loader/pe_loader.h"

namespace {

class WindowsDll final : public LoadedLibrary {
public:
    static std::unique_ptr<LoadedLibrary> Load(std::string *error) {
        std::unique_ptr<WindowsDll> library(new WindowsDll);
        library->dll_ = LoadWindowsDll(PWDVMP32_DLL_PATH, error);
        if (library->dll_ == nullptr) return nullptr;
        if (!library->ResolveExports(error)) return *error = "missing exports:" + *error, nullptr;
        return library;
    }
    ~WindowsDll() override {
        if (dll_ != nullptr) FreeWindowsDll(dll_);
    }
    void *Find(const std::string &exportedName) const override { return GetWindowsDllProc(dll_, exportedName.c_str()); }

private:
    LoadedDll *dll_ = nullptr;
};

}  // namespace
#endif

std::vector<LibraryKind> AvailableLibraryKinds() {
    std::vector<LibraryKind> kinds = {{"SharedObject", &SharedObject::Load}};
#ifdef PWDVMP32_LOADS_DLL
    kinds.push_back({"WindowsDll", &WindowsDll::Load});
#endif
    return kinds;
}
