// Directory searches into FIND_DATA, changing directories, the message pump and DOS time words.
#include <gtest/gtest.h>

#include "common/temp_tree.h"
#include "host_machine.h"
#include "support/dos_time.h"
#include "support/find_entry.h"
#include "support/limits.h"
#include "support/message_pump.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

class FindEntry : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        ASSERT_TRUE(tree_.AddFile("Files/README.TXT") && tree_.AddFile("Files/Long Name.TXT"));
        ASSERT_TRUE(tree_.AddDir("Files/SUBDIR") && tree_.AddDir("OnlyDirs/A"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, tree_.Root().c_str()));
    }
    void TearDown() override { HostMachine_Reset(); }

    static std::set<std::string> List(const char *pattern, DWORD mask) {
        std::set<std::string> names;
        FIND_DATA find;
        HANDLE h = FindFirstEntry(pattern, mask, &find);
        if (h == INVALID_HANDLE_VALUE)
            return names;
        EXPECT_EQ(find.dwSearchAttributes, mask);
        do
            names.insert(find.cFileName);
        while (FindNextEntry(h, &find));
        FindCloseEntry(h);
        return names;
    }

    TempTree tree_;
};

TEST_F(FindEntry, RecasingAndDirectoryMask) {
    // "Long Name.TXT" has a short form: a long name, never re-cased.
    EXPECT_EQ(List("C:\\Files\\*.*", SEARCH_FILES_ONLY),
              (std::set<std::string>{"Readme.txt", "Long Name.TXT"}));
    EXPECT_EQ(List("C:\\Files\\*.*", SEARCH_FILES_AND_DIRS).count("Subdir"), 1u);
    std::set<std::string> kept = List("C:\\Files\\*.*", SEARCH_FILES_AND_DIRS | SEARCH_KEEP_CASE);
    EXPECT_TRUE(kept.count("SUBDIR") && kept.count("README.TXT"));

    FIND_DATA find;
    EXPECT_EQ(FindFirstEntry("C:\\OnlyDirs\\*.*", SEARCH_FILES_ONLY, &find), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstEntry("C:\\Missing\\*", SEARCH_FILES_AND_DIRS, &find), INVALID_HANDLE_VALUE);
}

TEST_F(FindEntry, EnterDirectorySavesAndRestores) {
    ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, tree_.Root().c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Files"));
    auto current = [] {
        char text[PATH_BUFFER_SIZE] = "";
        GetCurrentDirectoryA(sizeof(text), text);
        return std::string(text);
    };
    char saved[PATH_BUFFER_SIZE];
    ASSERT_TRUE(EnterDirectory("D:\\OnlyDirs\\A", saved));
    EXPECT_TRUE(std::string(saved) == "C:\\Files" && current() == "D:\\OnlyDirs\\A");
    ASSERT_TRUE(EnterDirectory(saved, nullptr));
    // A failure leaves the drive that was current before current.
    EXPECT_FALSE(EnterDirectory("D:\\Missing", nullptr));
    EXPECT_EQ(current(), "C:\\Files");
    EXPECT_FALSE(EnterDirectory("Q:\\", nullptr) || EnterDirectory("", nullptr));
}

std::vector<std::pair<UINT, WPARAM>> g_received;

LRESULT CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    g_received.emplace_back(message, wParam);
    return 0;
}

TEST(MessagePump, DispatchesEveryPostedMessage) {
    HostMachine_Reset();
    g_received.clear();
    HWND hwnd = HostMachine_CreateWindow(RecordingProc);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, 7, 0) && PostMessageA(hwnd, WM_USER + 2, 8, 0));
    PumpMessages();
    EXPECT_EQ(g_received, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 1, 7}, {WM_USER + 2, 8}}));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    HostMachine_Reset();
}

TEST(DosTime, LocalTimeAsDosWords) {
    HostMachine_Reset();
    const SYSTEMTIME frozen = {1999, 12, 5, 31, 23, 59, 58, 0};
    HostMachine_FreezeLocalTime(&frozen);
    SYSTEMTIME now;
    GetLocalTime(&now);
    WORD date = 0, time = 0;
    GetLocalDosDateTime(&now, &date, &time);
    EXPECT_TRUE(date == 0x279F && time == 0xBF7D) << std::hex << date << " " << time;
    GetLocalDosDateTime(&now, nullptr, nullptr);  // both destinations may be absent
    HostMachine_Reset();
}

}  // namespace
