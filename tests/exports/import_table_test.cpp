// Checks what PWDVMP32.DLL imports, as i686-w64-mingw32-objdump reads it, against an allow-list of
// DLLs and functions, and that it carries a file-version resource of the project version. A new
// import means a new dependency of the shipped DLL: add it here only on purpose. The DLL, as the
// toolchain linked it, is also a real file for the import scanner to read as objdump does.
#include "common/exe_builder.h"
#include "common/settings_machine.h"
#include "references/import_scanner.h"
#include "references/scanning_rules.h"
#include "references/settings_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using ImportTable = std::map<std::string, std::set<std::string>>;  // lower-case DLL name -> functions

const ImportTable kAllowedImports = {
    {"kernel32.dll",
     {// The library's own calls: files, directories, drives, global memory, the clock, text.
      "CloseHandle", "CreateFileA", "DeleteFileA", "DeviceIoControl", "ExpandEnvironmentStringsA",
      "FileTimeToDosDateTime", "FileTimeToLocalFileTime", "FindClose", "FindFirstFileA", "FindNextFileA",
      "FlushFileBuffers", "GetCurrentDirectoryA", "GetDriveTypeA", "GetFullPathNameA", "GetLastError", "GetLocalTime",
      "GetModuleFileNameA", "GetSystemDirectoryA", "GetTempFileNameA", "GetVersion", "GetWindowsDirectoryA",
      "GlobalAlloc", "GlobalFree", "GlobalHandle", "GlobalLock", "GlobalReAlloc", "GlobalUnlock", "IsBadReadPtr",
      "MoveFileExA", "SetCurrentDirectoryA", "SetFileAttributesA", "SetLastError", "_hread", "_hwrite", "_lclose",
      "_lcreat", "_llseek", "_lopen", "_lread", "lstrcmpA", "lstrcmpiA",
      // The MinGW-w64 C runtime's DLL start-up: its lock, the runtime relocator, the frame registration
      // with a shared libgcc when one is loaded, and the thread-local destructors of the win32 model.
      "DeleteCriticalSection", "EnterCriticalSection", "InitializeCriticalSection", "LeaveCriticalSection",
      "FreeLibrary", "GetModuleHandleA", "GetProcAddress", "LoadLibraryA", "Sleep", "TlsGetValue", "VirtualProtect",
      "VirtualQuery"}},
    {"user32.dll",
     {"CharLowerA", "CharLowerBuffA", "CharUpperA", "DispatchMessageA", "OemToCharA", "OemToCharBuffA", "PeekMessageA",
      "TranslateMessage"}},
    {"msvcrt.dll",
     {// Memory and strings.
      "calloc", "free", "malloc", "realloc", "memchr", "memcmp", "memcpy", "memmove", "memset", "strchr", "strcpy",
      "strlen", "strncat", "strncmp", "strpbrk", "strrchr",
      // The C runtime's start-up: static constructors, atexit's lock, and the relocator's error report.
      "_amsg_exit", "_initterm", "_iob", "_lock", "_unlock", "abort", "fwrite", "vfprintf"}},
};

// Rows of "objdump -p" after "DLL Name: X": "\tvma  hint  name", up to a blank line.
ImportTable ReadImportTable(const std::string &dump) {
    ImportTable imports;
    std::istringstream in(dump);
    const std::regex dllName(R"(^\s*DLL Name:\s*(\S+)\s*$)"), member(R"(^\s*[0-9a-f]+\s+\d+\s+(\S+)\s*$)");
    std::string line, current;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, dllName)) {
            current = m[1];
            std::transform(current.begin(), current.end(), current.begin(), ::tolower);
            imports[current];
        } else if (line.find_first_not_of(" \t\r") == std::string::npos) {
            current.clear();
        } else if (!current.empty() && std::regex_match(line, m, member)) {
            imports[current].insert(m[1]);
        }
    }
    return imports;
}

std::string BuiltDll() {
    const std::string dll = PWDVMP32_EXPORT_CHECK_DLL;
    if (!dll.empty() && ReadHostFile(dll).empty()) ADD_FAILURE() << dll << " was not built";
    return dll;
}

TEST(ImportList, DllImportsOnlyAllowedFunctions) {
    const std::string dll = BuiltDll();
    if (dll.empty()) GTEST_SKIP() << "the export check is off in this build";
    const ImportTable imports = ReadImportTable(RunCommand(std::string(MINGW_OBJDUMP) + " -p '" + dll + "'"));
    ASSERT_TRUE(imports.count("kernel32.dll") && imports.at("kernel32.dll").count("GlobalAlloc"))
        << "the import rows were not read";
    for (const auto &[library, functions] : imports) {
        const auto allowed = kAllowedImports.find(library);
        if (allowed == kAllowedImports.end()) {
            ADD_FAILURE() << "imports from " << library;
            continue;
        }
        for (const std::string &function : functions)
            EXPECT_TRUE(allowed->second.count(function)) << "imports " << library << "!" << function;
    }
}

TEST(ImportList, ScannerReadsTheDllsImportsAsObjdumpDoes) {
    const std::string dll = BuiltDll();
    if (dll.empty()) GTEST_SKIP() << "the export check is off in this build";
    const ImportTable imports = ReadImportTable(RunCommand(std::string(MINGW_OBJDUMP) + " -p '" + dll + "'"));
    std::set<std::string> expected, scanned;
    for (const auto &[library, functions] : imports) expected.insert(library.substr(0, library.rfind('.')));
    SettingsMachine machine;
    ASSERT_TRUE(machine.Tree().AddFile("PWDVMP32.DLL", ReadHostFile(dll)));
    // MinGW links DLLs for the console subsystem, which the classic rules pass over.
    ASSERT_TRUE(machine.WriteSettings("[Scanning]\r\nSubsystems=3\r\n\r\n"));
    LoadScanningRules();
    DWORD kind = 0;
    for (const std::string &name : ListStrings(ReadModuleReferences("C:\\PWDVMP32.DLL", &kind))) scanned.insert(name);
    FreeScanBuffers(), FreeSystemFilesList(), ResetScanningRules();
    EXPECT_EQ(static_cast<DWORD>(EXE_KIND_PE), kind);
    EXPECT_EQ(expected, scanned);
}

// VS_FIXEDFILEINFO: its signature, then the structure version, then the file version as two DWORDs.
TEST(ImportList, DllCarriesTheProjectVersion) {
    const std::string dll = BuiltDll();
    if (dll.empty()) GTEST_SKIP() << "the export check is off in this build";
    const std::string bytes = ReadHostFile(dll);
    const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
    const size_t at = bytes.find(std::string(signature, 4));
    ASSERT_NE(std::string::npos, at) << "no VERSIONINFO resource";
    ASSERT_LE(at + 16, bytes.size());
    uint32_t versionMs = 0, versionLs = 0;
    std::memcpy(&versionMs, bytes.data() + at + 8, 4);
    std::memcpy(&versionLs, bytes.data() + at + 12, 4);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, std::sscanf(PWDVMP32_VERSION, "%u.%u.%u", &major, &minor, &patch));
    EXPECT_EQ((major << 16) | minor, versionMs);
    EXPECT_EQ(patch << 16, versionLs);
    std::string text;  // the FileVersion string, UTF-16LE
    for (const char c : std::string(PWDVMP32_VERSION)) text += {c, '\0'};
    EXPECT_NE(std::string::npos, bytes.find(text)) << "no version string " << PWDVMP32_VERSION;
}

}  // namespace
