// A reset machine whose drive C is a fresh temporary tree, reset again when the test ends.
#pragma once

#include "common/temp_tree.h"
#include "host_machine.h"

#include <gtest/gtest.h>

class DriveCTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree_.Root().c_str()));
    }
    void TearDown() override { HostMachine_Reset(); }
    TempTree tree_;
};
