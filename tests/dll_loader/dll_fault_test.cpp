// The faults that only the shipped DLL can show, each through PWDVMP32.DLL loaded by the tests' PE
// loader: an export whose code pops other argument bytes than its decorated name says, a DllMain
// that leaves global memory behind, a callback into the client made with another convention.
#include "common/temp_tree.h"
#include "dll_loader/pe_loader.h"
#include "dll_loader/stack_probe.h"
#include "host_machine.h"
#include "pwdvmp32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Arg(const void *pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
uint32_t Arg(FileCallback callback) { return Arg(reinterpret_cast<const void *>(callback)); }
uint32_t Arg(DirCallback callback) { return Arg(reinterpret_cast<const void *>(callback)); }

// The argument bytes a stdcall name carries after its '@'; the mangled names ("?X@@YG...")
// spell their arguments as types instead, and the table below gives those.
int DecoratedArgumentBytes(const std::string &name) {
    return name[0] == '_' ? std::stoi(name.substr(name.rfind('@') + 1)) : -1;
}

// The walker's callbacks; the context is the count itself.
struct WalkCount {
    int calls = 0;
    static int WINAPI OnFile(void *context, char *, FIND_DATA *, LONG) { return Count(context); }
    static int WINAPI OnDir(void *context, unsigned, char *, char *, LONG) { return Count(context); }
    static int Count(void *context) {
        auto *count = static_cast<WalkCount *>(context);
        ++count->calls;
        return 1;
    }
};

class WindowsDll : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ASSERT_TRUE(disk_.AddFile("Bin/app.exe", "MZ"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk_.Root().c_str()));
        ASSERT_TRUE(HostMachine_MapDrive('P', DRIVE_REMOVABLE, program_.Root().c_str()));
        HostMachine_SetModuleFileName("P:\\HOST.EXE");
        baseline_ = HostMachine_GlobalBlockCount();
    }
    void TearDown() override {
        HostMachine_Reset();
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "global memory left behind";
    }
    LoadedDll *Load() {
        std::string error;
        LoadedDll *dll = LoadWindowsDll(PWDVMP32_DLL_PATH, &error);
        EXPECT_NE(nullptr, dll) << error;
        return dll;
    }
    TempTree disk_, program_;
    unsigned long baseline_ = 0;
};

TEST_F(WindowsDll, AttachThenDetachLeavesNoGlobalBlock) {
    for (int round = 0; round < 2; ++round) {
        LoadedDll *dll = Load();
        ASSERT_NE(nullptr, dll);
        EXPECT_TRUE(FreeWindowsDll(dll)) << "round " << round;
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "round " << round;
    }
}

// Every export but the four walker callbacks (their state belongs to a running scan), called
// through its exported name with as many argument bytes as the name says, in an order that makes
// each call meaningful: the scan first, then the lookups, the changes and the release.
TEST_F(WindowsDll, EveryExportReturnsToABalancedStack) {
    LoadedDll *dll = Load();
    ASSERT_NE(nullptr, dll);
    WalkCount walk;
    EntryPosition position = {};
    ReferenceResultBlock *references = nullptr;
    LPSTR list = nullptr;
    CHAR buffer[MAX_PATH] = {};
    MyFileQuery query = {};
    const DWORD offsets[2] = {0, 4};
    const char strings[] = "abc\0abd";
    struct Call {
        const char *name;
        int cbArguments;  // -1: as the decorated name says
        std::vector<uint32_t> arguments;
    };
    const Call calls[] = {
        {"_DriveMap_RegisterAsClient@0", -1, {}},
        {"_DriveMap_BuildAll@12", -1, {Arg(&walk), Arg(&WalkCount::OnFile), Arg(&WalkCount::OnDir)}},
        {"_DriveMap_SyncAll@12", -1, {0, 0, 0}},
        {"_DriveMap_GetError@0", -1, {}},
        {"_DriveMap_GetCritical@0", -1, {}},
        {"_DriveMap_GetDirtyFlag@0", -1, {}},
        {"_DriveMap_GetEntry@12", -1, {7, Arg("C:\\Bin\\app.exe"), Arg(&position)}},
        {"_DriveMap_GetFullPath@8", -1, {Arg(buffer), Arg(&position)}},
        {"_DriveMap_GetEntryReferences@20", -1, {7, Arg("C:\\none.dll"), Arg(&position), Arg(&references), 9}},
        {"_DriveMap_SearchForFile@16", -1, {Arg(buffer), Arg("app.exe"), Arg("C:\\Bin"), FIND_GIVEN_DIR}},
        {"_DriveMap_SearchDirectory@28",
         -1,
         {Arg(&walk), Arg("C:\\"), Arg("*.*"), WALK_RECURSE, Arg(&WalkCount::OnFile), Arg(&WalkCount::OnDir), 5}},
        {"_DriveMap_GetFilesWithExtension@8", -1, {Arg("exe"), Arg(&list)}},
        {"_SearchAllDirForMyFiles@8", -1, {Arg(&query), 0}},
        {"_Delete_Allocated_Memory@8", -1, {Arg(&query), 0}},
        {"?CompareListEntries@@YGHPAX0K@Z", 12, {Arg(&offsets[0]), Arg(&offsets[1]), Arg(strings)}},
        {"?CompareListEntriesHuge@@YGHPAX0K@Z", 12, {Arg(&offsets[0]), Arg(&offsets[1]), Arg(strings)}},
        {"_DriveMap_UpdateEntry@8", -1, {7, Arg("C:\\Bin\\app.exe")}},
        {"_DriveMap_IncrementEntryUsageCount@12", -1, {7, Arg("C:\\Bin\\app.exe"), 2}},
        {"_DriveMap_Move@8", -1, {Arg("C:\\Bin\\new.exe"), Arg("C:\\Bin\\none.exe")}},
        {"_DriveMap_DeleteEntry@8", -1, {7, Arg("C:\\Bin\\none.exe")}},
        {"_DriveMap_UpdateSystemIniEntry@0", -1, {}},
        {"_DriveMap_WriteAll@8", -1, {7, 0}},
        {"_DriveMap_FreeAll@0", -1, {}},
        {"_DriveMap_ReadAll@4", -1, {7}},
        {"_DriveMap_UnRegisterAsClient@0", -1, {}},
    };
    for (const Call &call : calls) {
        SCOPED_TRACE(call.name);
        const int cbArguments = call.cbArguments >= 0 ? call.cbArguments : DecoratedArgumentBytes(call.name);
        ASSERT_EQ(cbArguments, static_cast<int>(4 * call.arguments.size()));
        const void *function = GetWindowsDllProc(dll, call.name);
        ASSERT_NE(nullptr, function);
        EXPECT_EQ(0, CallProbingStack(function, call.arguments.data(), call.arguments.size()).stackChange);
    }
    // The walker called back into this test, stdcall: the build and the map walk returned balanced.
    EXPECT_GT(walk.calls, 4);
    EXPECT_STREQ("C:\\Bin\\app.exe", buffer);
    if (list != nullptr) {
        HGLOBAL handle = GlobalHandle(list);
        GlobalUnlock(handle);
        GlobalFree(handle);
    }
    EXPECT_EQ(nullptr, references) << "no block for a file the map does not hold";
    FreeWindowsDll(dll);
}

}  // namespace
