// A scan machine (scan_fixture.h) whose library holds C:\WINDOWS and C:\WINDOWS\SYSTEM32 as the
// Windows and System directories, as loading it would have captured them, for the searches and the
// reference query; drive C is a fresh tree that BuildMap maps.
#pragma once

#include "scan/scan_fixture.h"

#include <cstring>

class QueryTest : public ScanTest {
protected:
    void SetUp() override {
        ScanTest::SetUp();
        std::strcpy(gWindowsDirectory, "C:\\WINDOWS");
        std::strcpy(gSystemDirectory, "C:\\WINDOWS\\SYSTEM32");
    }
    void TearDown() override {
        gWindowsDirectory[0] = gSystemDirectory[0] = '\0';
        ScanTest::TearDown();
    }
    void BuildMap() { ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr)); }
};
