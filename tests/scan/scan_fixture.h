// A machine for scans: no map, a clock frozen at 2030-01-01 (later than every file's stamps, so a
// sync sees no use unless a test makes one), drive C on a fresh tree, and the program on removable
// drive P, which is never walked, so that the map file one scan saves is no entry of the next.
#pragma once

#include "common/temp_tree.h"
#include "scan/drive_class.h"
#include "store/path_lookup.h"
#include "store/store_fixture.h"

#include <string>
#include <tuple>

using MapFlags = std::tuple<DWORD, DWORD, DWORD>;  // loaded, dirty, critical

class ScanTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ResetDriveClassState();
        static const SYSTEMTIME now = {2030, 1, 2, 1, 0, 0, 0, 0};
        HostMachine_FreezeLocalTime(&now);
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk_.Root().c_str()));
        ASSERT_TRUE(HostMachine_MapDrive('P', DRIVE_REMOVABLE, program_.Root().c_str()));
        HostMachine_SetModuleFileName("P:\\HOST.EXE");
    }
    void TearDown() override { StoreTest::TearDown(), ResetDriveClassState(); }
    EntryRecord *Find(const std::string &path) {
        EntryPosition position;
        return ResolvePath(path.c_str(), &position) ? LoadPtr32<EntryRecord>(&position.pEntry) : nullptr;
    }
    static MapFlags Flags() { return {gLoadedFlag, gDirtyFlag, gCriticalFlag}; }
    std::string MapFile() const { return program_.ReadFile("PWDRVMAP.DAT"); }
    TempTree disk_, program_;
};
