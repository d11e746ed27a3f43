// The message queue: posting, dispatching to window procedures in order, reset.
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
    if (message == WM_USER && wParam == 1) PostMessageA(hwnd, WM_USER + 1, 2, 0);
    return static_cast<LRESULT>(message) + lParam;
}

TEST(Messages, PostedMessagesReachTheirProcedureInOrderUntilReset) {
    HostMachine_Reset();
    g_received.clear();
    HWND first = HostMachine_CreateWindow(RecordingProc), second = HostMachine_CreateWindow(RecordingProc);
    ASSERT_TRUE(first && second && first != second);
    ASSERT_TRUE(PostMessageA(first, WM_USER, 1, 0) && PostMessageA(second, WM_USER + 5, 7, 0));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {  // the library's pump
        EXPECT_FALSE(TranslateMessage(&msg));
        DispatchMessageA(&msg);
    }
    ASSERT_EQ(g_received.size(), 3u) << "the message posted during dispatch is pumped too";
    EXPECT_TRUE(g_received[0].hwnd == first && g_received[1].message == WM_USER + 5 && g_received[1].wParam == 7);
    EXPECT_EQ(g_received[2].message, UINT(WM_USER + 1));
    msg = MSG{first, WM_USER + 3, 0, 4, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&msg), LRESULT(WM_USER + 3 + 4));

    PostMessageA(first, WM_USER, 0, 0);
    HostMachine_Reset();
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "reset empties the queue";
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(first, WM_USER, 0, 0)) << "reset forgets the windows";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_NE(HostMachine_CreateWindow(RecordingProc), first) << "handles are not reused";
    EXPECT_EQ(HostMachine_CreateWindow(nullptr), nullptr);
    HostMachine_Reset();
}

}  // namespace
