// System information of the emulated machine: the last-error value, the Windows version, the
// Windows and System directories and the running program's file name.
#include "system_info.h"

#include "host_errors.h"
#include "host_machine.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr DWORD kVersionNt4 = 0x05650004;  // NT 4.0, build 1381
constexpr const char *kDefaultWindowsDirectory = "C:\\WINDOWS";
constexpr const char *kDefaultSystemDirectory = "C:\\WINDOWS\\SYSTEM32";

thread_local DWORD t_dwLastError = ERROR_SUCCESS;

struct SystemInfo {
    DWORD dwVersion = kVersionNt4;
    std::string strWindowsDirectory = kDefaultWindowsDirectory;
    std::string strSystemDirectory = kDefaultSystemDirectory;
    std::string strModuleFileName;  // empty: none set
};

std::mutex g_mutex;  // guards the information

// Never destroyed: the library reads it while being unloaded at exit.
SystemInfo &Info() {
    static auto *pInfo = new SystemInfo;
    return *pInfo;
}

// Win32's directory convention: the length without the NUL when it fits in uSize, otherwise the
// size needed with the NUL and nothing written.
UINT CopyDirectory(const std::string &strValue, LPSTR lpBuffer, UINT uSize) {
    size_t cch = strValue.size();
    if (!lpBuffer || cch >= uSize) return static_cast<UINT>(cch + 1);
    memcpy(lpBuffer, strValue.c_str(), cch + 1);
    return static_cast<UINT>(cch);
}

void SetString(std::string &strTarget, const char *pValue) {
    host::Guarded([&] {
        std::lock_guard<std::mutex> guard(g_mutex);
        strTarget = pValue ? pValue : "";
    });
}

}  // namespace

namespace host {

void ResetSystemInfo() {
    std::lock_guard<std::mutex> guard(g_mutex);
    Info() = SystemInfo{};
}

}  // namespace host

extern "C" {

DWORD WINAPI GetLastError(void) { return t_dwLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_dwLastError = dwErrCode; }

DWORD WINAPI GetVersion(void) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return Info().dwVersion;
}

void HostMachine_SetVersion(unsigned long version) {
    std::lock_guard<std::mutex> guard(g_mutex);
    Info().dwVersion = static_cast<DWORD>(version);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return CopyDirectory(Info().strWindowsDirectory, lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return CopyDirectory(Info().strSystemDirectory, lpBuffer, uSize);
}

void HostMachine_SetWindowsDirectory(const char *path) { SetString(Info().strWindowsDirectory, path); }

void HostMachine_SetSystemDirectory(const char *path) { SetString(Info().strSystemDirectory, path); }

void HostMachine_SetModuleFileName(const char *path) { SetString(Info().strModuleFileName, path); }

// Only the program itself (hModule NULL) has a name here. A name longer than nSize - 1 is cut to
// nSize - 1 characters and a NUL; the result is then nSize with ERROR_INSUFFICIENT_BUFFER, as on
// Windows Vista and later. Otherwise the length without the NUL. 0 when no name was set.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    const std::string &strName = Info().strModuleFileName;
    if (strName.empty()) {
        lpFilename[0] = 0;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (strName.size() >= nSize) {
        memcpy(lpFilename, strName.c_str(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, strName.c_str(), strName.size() + 1);
    return static_cast<DWORD>(strName.size());
}

}  // extern "C"
