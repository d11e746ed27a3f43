// The message queue: posting, peeking with filters, dispatching to window procedures.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
};
std::vector<Received> g_received;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_received.push_back({hwnd, message, wParam});
    // The first WM_USER asks for a follow-up while it is being dispatched.
    if (message == WM_USER && wParam == 1)
        PostMessageA(hwnd, WM_USER + 1, 2, 0);
    return static_cast<LRESULT>(message) + lParam;
}

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        g_received.clear();
    }
    void TearDown() override { HostMachine_Reset(); }

    // The library's pump: remove, translate and dispatch until the queue is empty.
    void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            EXPECT_FALSE(TranslateMessage(&msg));
            DispatchMessageA(&msg);
        }
    }
};

TEST_F(Messages, PostedMessagesReachTheirProcedureInOrder) {
    HWND first = HostMachine_CreateWindow(RecordingProc);
    HWND second = HostMachine_CreateWindow(RecordingProc);
    ASSERT_TRUE(first && second && first != second);
    ASSERT_TRUE(PostMessageA(first, WM_USER, 1, 0));
    ASSERT_TRUE(PostMessageA(second, WM_USER + 5, 7, 0));
    Pump();
    ASSERT_EQ(g_received.size(), 3u) << "the message posted during dispatch is pumped too";
    EXPECT_EQ(g_received[0].hwnd, first);
    EXPECT_EQ(g_received[1].message, UINT(WM_USER + 5));
    EXPECT_EQ(g_received[1].wParam, 7u);
    EXPECT_EQ(g_received[2].message, UINT(WM_USER + 1));

    MSG msg{first, WM_USER + 3, 0, 4, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&msg), LRESULT(WM_USER + 3 + 4));
}

TEST_F(Messages, PeekFiltersByWindowAndRange) {
    HWND window = HostMachine_CreateWindow(RecordingProc);
    HWND other = HostMachine_CreateWindow(RecordingProc);
    PostMessageA(window, WM_USER + 10, 0, 0);
    PostMessageA(other, WM_USER + 20, 0, 0);
    PostMessageA(nullptr, WM_USER + 30, 0, 0);

    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 11, WM_USER + 19, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 15, WM_USER + 40, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 20));
    ASSERT_TRUE(PeekMessageA(&msg, other, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, other);
    EXPECT_FALSE(PeekMessageA(&msg, other, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, INVALID_HANDLE_VALUE, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 30)) << "(HWND)-1 takes messages of no window";
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(g_received.empty()) << "peeking dispatches nothing";
}

TEST_F(Messages, UnknownWindowsAndReset) {
    HWND window = HostMachine_CreateWindow(RecordingProc);
    PostMessageA(window, WM_USER, 0, 0);
    HostMachine_Reset();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "reset empties the queue";
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0)) << "reset forgets the windows";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_NE(HostMachine_CreateWindow(RecordingProc), window) << "handles are not reused";
    EXPECT_EQ(HostMachine_CreateWindow(nullptr), nullptr);
}

}  // namespace
