// Fixture of the file-system tests: a reset machine whose drive C is a fresh temporary tree.
#pragma once

#include "common/temp_tree.h"
#include "host_machine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ASSERT_FALSE(tree.Root().empty());
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree.Root().c_str()));
    }
    void TearDown() override { HostMachine_Reset(); }
    // Every record a search returns, in order; empty when FindFirstFileA fails (error in lastError).
    std::vector<WIN32_FIND_DATAA> Find(const std::string &pattern) {
        std::vector<WIN32_FIND_DATAA> found;
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(pattern.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) {
            lastError = GetLastError();
            return found;
        }
        do found.push_back(data);
        while (FindNextFileA(h, &data));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        return found;
    }
    std::vector<std::string> Names(const std::string &pattern) {
        std::vector<std::string> names;
        for (const WIN32_FIND_DATAA &data : Find(pattern)) names.push_back(data.cFileName);
        return names;
    }
    std::map<std::string, WIN32_FIND_DATAA> ByName(const std::string &pattern) {
        std::map<std::string, WIN32_FIND_DATAA> found;
        for (const WIN32_FIND_DATAA &data : Find(pattern)) found[data.cFileName] = data;
        return found;
    }
    // The host path a Windows path resolves to, "" when it does not.
    std::string Resolve(const std::string &windowsPath) {
        char host[4096];
        return HostMachine_ResolvePath(windowsPath.c_str(), host, sizeof host) ? host : "";
    }
    TempTree tree;
    DWORD lastError = 0;
};
