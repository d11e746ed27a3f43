// Every store test starts from a fresh machine and no map, and must leave no global memory behind.
#pragma once

#include "common/map_builder.h"
#include "common/map_invariants.h"
#include "host_machine.h"
#include "store/directory_blocks.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"

#include <gtest/gtest.h>

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ResetTestMap();
        baseline_ = HostMachine_GlobalBlockCount();
    }
    void TearDown() override {
        ResetTestMap();
        HostMachine_Reset();
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "global memory leaked";
    }
    unsigned long baseline_ = 0;
};
