#include "dll_loader/pe_loader.h"

#include "dll_loader/import_bindings.h"
#include "dll_loader/thread_block.h"
#include "win32.h"

#include <algorithm>
#include <cstring>

namespace {

using EntryPoint = BOOL(WINAPI *)(HINSTANCE, DWORD, LPVOID);
constexpr uint32_t kOrdinalFlag = 0x80000000;  // IMAGE_ORDINAL_FLAG32
constexpr uint32_t kTlsIndex = 0;              // the only module with implicit TLS in the process

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A NUL-terminated string at `rva` that ends inside the image, or nullptr.
const char *StringAt(const PeImage &image, uint32_t rva) {
    const char *text = static_cast<const char *>(image.At(rva));
    return text != nullptr && std::memchr(text, '\0', image.cbImage - rva) != nullptr ? text : nullptr;
}

// Calls `visit(library, function, iatSlot)` for each import; returns 0 with the reason in `error`
// when the table is damaged or an import is by ordinal, which nothing here could bind.
template <typename Visit>
int ForEachImport(const PeImage &image, std::string *error, Visit visit) {
    const ImageDataDirectory &table = image.directories[kImportDirectory];
    for (uint32_t at = table.VirtualAddress; table.VirtualAddress != 0; at += sizeof(ImageImportDescriptor)) {
        const auto *descriptor =
            static_cast<const ImageImportDescriptor *>(image.At(at, sizeof(ImageImportDescriptor)));
        if (descriptor == nullptr) return *error = "damaged import table", 0;
        if (descriptor->Name == 0) break;
        const char *library = StringAt(image, descriptor->Name);
        if (library == nullptr) return *error = "damaged import table", 0;
        const uint32_t names =
            descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
        for (uint32_t i = 0;; ++i) {
            const auto *name = static_cast<const uint32_t *>(image.At(names + 4 * i, 4));
            auto *slot = static_cast<uint32_t *>(image.At(descriptor->FirstThunk + 4 * i, 4));
            if (name == nullptr || slot == nullptr) return *error = "damaged import table", 0;
            if (*name == 0) break;
            if (*name & kOrdinalFlag) return *error = std::string("imports by ordinal from ") + library, 0;
            const char *function = StringAt(image, *name + 2);  // after IMAGE_IMPORT_BY_NAME.Hint
            if (function == nullptr) return *error = "damaged import table", 0;
            if (!visit(LowerCase(library), std::string(function), slot)) return 0;
        }
    }
    return 1;
}

int BindImports(const PeImage &image, std::string *error) {
    return ForEachImport(image, error, [&](const std::string &library, const std::string &function, uint32_t *slot) {
        void *address = BindImport(library, function);
        if (address == nullptr) return *error = "nothing binds " + library + "!" + function, 0;
        *slot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
        return 1;
    });
}

// Gives this thread the TLS template's copy and tells the DLL its index.
int SetUpImplicitTls(LoadedDll *dll, std::string *error) {
    const auto *tls = dll->image.Directory<ImageTlsDirectory>(kTlsDirectory);
    if (tls == nullptr) return 1;
    const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dll->image.base));
    const uint32_t cbTemplate = tls->EndAddressOfRawData - tls->StartAddressOfRawData;
    const void *source = dll->image.At(tls->StartAddressOfRawData - base, cbTemplate);
    auto *index = static_cast<uint32_t *>(dll->image.At(tls->AddressOfIndex - base, 4));
    if (source == nullptr || index == nullptr) return *error = "damaged TLS directory", 0;
    dll->tlsData.assign(cbTemplate + tls->SizeOfZeroFill, 0);
    std::memcpy(dll->tlsData.data(), source, cbTemplate);
    *index = kTlsIndex;
    SetThreadLocalSlot(kTlsIndex, dll->tlsData.data());
    return 1;
}

// The TLS callbacks in their array's order, then the entry point; TRUE when the entry point is.
BOOL Notify(const LoadedDll *dll, DWORD reason) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(dll->image.base);
    const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dll->image.base));
    if (const auto *tls = dll->image.Directory<ImageTlsDirectory>(kTlsDirectory); tls && tls->AddressOfCallBacks)
        for (const uint32_t *callback = static_cast<const uint32_t *>(dll->image.At(tls->AddressOfCallBacks - base, 4));
             callback != nullptr && *callback != 0; ++callback)
            reinterpret_cast<EntryPoint>(uintptr_t{*callback})(instance, reason, nullptr);
    if (dll->image.entryPoint == 0) return TRUE;
    return reinterpret_cast<EntryPoint>(dll->image.base + dll->image.entryPoint)(instance, reason, nullptr);
}

}  // namespace

LoadedDll *LoadWindowsDll(const std::string &path, std::string *error) {
    if (!InstallThreadBlock()) return *error = "cannot point fs at a thread environment block", nullptr;
    auto *dll = new LoadedDll;
    if (!MapPeImage(path, &dll->image, error)) {
        delete dll;
        return nullptr;
    }
    if (!BindImports(dll->image, error) || !SetUpImplicitTls(dll, error)) {
        UnmapPeImage(&dll->image);
        delete dll;
        return nullptr;
    }
    ProtectPeImage(dll->image);
    if (!Notify(dll, DLL_PROCESS_ATTACH)) {
        *error = path + ": the entry point refused DLL_PROCESS_ATTACH";
        UnmapPeImage(&dll->image);
        delete dll;
        return nullptr;
    }
    return dll;
}

void *GetWindowsDllProc(const LoadedDll *dll, const char *name) {
    const PeImage &image = dll->image;
    const auto *exports = image.Directory<ImageExportDirectory>(kExportDirectory);
    if (exports == nullptr) return nullptr;
    const auto *functions =
        static_cast<const uint32_t *>(image.At(exports->AddressOfFunctions, 4 * exports->NumberOfFunctions));
    if (functions == nullptr) return nullptr;
    uint32_t index = 0;
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        index = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name)) - exports->Base;
    } else {
        const auto *names =
            static_cast<const uint32_t *>(image.At(exports->AddressOfNames, 4 * exports->NumberOfNames));
        const auto *ordinals =
            static_cast<const uint16_t *>(image.At(exports->AddressOfNameOrdinals, 2 * exports->NumberOfNames));
        if (names == nullptr || ordinals == nullptr) return nullptr;
        uint32_t i = 0;
        for (const char *exported; i < exports->NumberOfNames; ++i)
            if ((exported = StringAt(image, names[i])) != nullptr && std::strcmp(exported, name) == 0) break;
        if (i == exports->NumberOfNames) return nullptr;
        index = ordinals[i];
    }
    if (index >= exports->NumberOfFunctions || functions[index] == 0) return nullptr;
    const ImageDataDirectory &table = image.directories[kExportDirectory];
    if (functions[index] - table.VirtualAddress < table.Size) return nullptr;  // forwarded elsewhere
    return image.At(functions[index]);
}

int FreeWindowsDll(LoadedDll *dll) {
    const BOOL detached = Notify(dll, DLL_PROCESS_DETACH);
    SetThreadLocalSlot(kTlsIndex, nullptr);
    UnmapPeImage(&dll->image);
    delete dll;
    return detached;
}
