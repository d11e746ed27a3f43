#include "dll_loader/import_bindings.h"

#include "win32.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <array>
#include <utility>

namespace {

// Functions the loader cannot or need not provide. Each aborts, naming itself, when called.
struct FailingStub {
    const char *library, *function, *why;
};
constexpr FailingStub kFailingStubs[] = {
    {"kernel32.dll", "Sleep", "start-up waits only for another thread's start-up"},
    {"kernel32.dll", "LoadLibraryA", "start-up loads a shared libgcc only when GetModuleHandleA found one"},
    {"kernel32.dll", "GetProcAddress", "likewise"},
    {"kernel32.dll", "FreeLibrary", "likewise"},
    {"kernel32.dll", "VirtualProtect", "the runtime relocator runs only over pseudo-relocations"},
    {"kernel32.dll", "VirtualQuery", "likewise"},
    {"kernel32.dll", "TlsGetValue", "thread-local destructors are registered only through TlsAlloc"},
    {"msvcrt.dll", "_amsg_exit", "the C runtime's fatal error exit"},
};

template <size_t I>
void FailingStubBody() {
    std::fprintf(stderr, "PWDVMP32.DLL called %s!%s, which the test loader does not provide (%s)\n",
                 kFailingStubs[I].library, kFailingStubs[I].function, kFailingStubs[I].why);
    std::abort();
}

template <size_t... I>
constexpr auto MakeStubBodies(std::index_sequence<I...>) {
    return std::array<void (*)(), sizeof...(I)>{&FailingStubBody<I>...};
}
constexpr auto kStubBodies = MakeStubBodies(std::make_index_sequence<std::size(kFailingStubs)>());

// The start-up's critical sections: a recursive mutex inside the caller's CRITICAL_SECTION.
static_assert(sizeof(pthread_mutex_t) <= 24, "a CRITICAL_SECTION is 24 bytes on Win32");
void WINAPI InitializeSection(void *section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(static_cast<pthread_mutex_t *>(section), &attributes);
    pthread_mutexattr_destroy(&attributes);
}
void WINAPI EnterSection(void *section) { pthread_mutex_lock(static_cast<pthread_mutex_t *>(section)); }
void WINAPI LeaveSection(void *section) { pthread_mutex_unlock(static_cast<pthread_mutex_t *>(section)); }
void WINAPI DeleteSection(void *section) { pthread_mutex_destroy(static_cast<pthread_mutex_t *>(section)); }

// No module of this process is a Windows module; start-up asks for a shared libgcc this way.
HMODULE WINAPI GetNoModuleHandle(LPCSTR) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
}

// msvcrt's start-up helpers (cdecl). _lock guards its atexit table; the tests call the DLL from
// one thread at a time, and the table is the DLL's own, so no other lock is needed.
using InitFunction = void (*)();
void InitTerm(InitFunction *first, InitFunction *last) {
    for (; first < last; ++first)
        if (*first != nullptr) (*first)();
}
void LockNothing(int) {}
// msvcrt's FILE array; start-up writes only its error reports, to _iob[2] (stderr).
char gIob[3][32];
int WriteErrorReport(void *, const char *format, va_list arguments) { return std::vfprintf(stderr, format, arguments); }
size_t WriteErrorBytes(const void *bytes, size_t cb, size_t count, void *) {
    return std::fwrite(bytes, cb, count, stderr);
}

struct OwnBinding {
    const char *library, *function;
    void *address;
};
const OwnBinding kOwnBindings[] = {
    {"kernel32.dll", "InitializeCriticalSection", reinterpret_cast<void *>(&InitializeSection)},
    {"kernel32.dll", "EnterCriticalSection", reinterpret_cast<void *>(&EnterSection)},
    {"kernel32.dll", "LeaveCriticalSection", reinterpret_cast<void *>(&LeaveSection)},
    {"kernel32.dll", "DeleteCriticalSection", reinterpret_cast<void *>(&DeleteSection)},
    {"kernel32.dll", "GetModuleHandleA", reinterpret_cast<void *>(&GetNoModuleHandle)},
    {"msvcrt.dll", "_initterm", reinterpret_cast<void *>(&InitTerm)},
    {"msvcrt.dll", "_lock", reinterpret_cast<void *>(&LockNothing)},
    {"msvcrt.dll", "_unlock", reinterpret_cast<void *>(&LockNothing)},
    {"msvcrt.dll", "_iob", gIob},
    {"msvcrt.dll", "vfprintf", reinterpret_cast<void *>(&WriteErrorReport)},
    {"msvcrt.dll", "fwrite", reinterpret_cast<void *>(&WriteErrorBytes)},
};

// msvcrt functions whose C library namesakes take the same arguments the same way.
const char *const kCLibraryFunctions[] = {
    "abort",  "calloc", "free",   "malloc", "realloc", "memchr",  "memcmp",  "memcpy",  "memmove",
    "memset", "strchr", "strcpy", "strlen", "strncat", "strncmp", "strpbrk", "strrchr",
};

// The shared object that holds the host layer: the one this process's GlobalAlloc comes from.
void *HostLayer() {
    static void *const handle = [] {
        Dl_info info = {};
        return dladdr(reinterpret_cast<void *>(&GlobalAlloc), &info) != 0
                   ? dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)
                   : nullptr;
    }();
    return handle;
}

}  // namespace

void *BindImport(const std::string &library, const std::string &function) {
    for (size_t i = 0; i < std::size(kFailingStubs); ++i)
        if (library == kFailingStubs[i].library && function == kFailingStubs[i].function)
            return reinterpret_cast<void *>(kStubBodies[i]);
    for (const OwnBinding &own : kOwnBindings)
        if (library == own.library && function == own.function) return own.address;
    if (library == "kernel32.dll" || library == "user32.dll")
        return HostLayer() != nullptr ? dlsym(HostLayer(), function.c_str()) : nullptr;
    if (library == "msvcrt.dll")
        for (const char *name : kCLibraryFunctions)
            if (function == name) return dlsym(RTLD_DEFAULT, name);
    return nullptr;
}
