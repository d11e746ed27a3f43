// The message queue: windows made by HostMachine_CreateWindow, one queue for the process, and
// the calls that post, peek and dispatch. Window procedures run without the queue's lock held,
// so that they may post (or peek) while being dispatched.
#include "messages.h"

#include "host_errors.h"
#include "host_machine.h"

#include <time.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace {

struct EmulatedWindow {
    HWND hwnd;
    WNDPROC pfnProc;
};

struct MessageState {
    std::vector<EmulatedWindow> windows;
    std::deque<MSG> queue;
    uintptr_t uNextWindow = 0x10002;  // never reused, so a window from before a reset stays unknown
};

std::mutex g_mutex;  // guards the state

// Never destroyed: a library being unloaded at exit may still pump messages.
MessageState &State() {
    static auto *pState = new MessageState;
    return *pState;
}

WNDPROC FindProc(HWND hwnd) {
    for (const EmulatedWindow &w : State().windows) {
        if (w.hwnd == hwnd) return w.pfnProc;
    }
    return nullptr;
}

DWORD MillisecondsSinceBoot() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

// hWnd NULL matches every message, (HWND)-1 only those posted to no window.
bool Matches(const MSG &msg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (hWnd == INVALID_HANDLE_VALUE) {
        if (msg.hwnd != nullptr) return false;
    } else if (hWnd != nullptr && msg.hwnd != hWnd) {
        return false;
    }
    if (wMsgFilterMin == 0 && wMsgFilterMax == 0) return true;
    return msg.message >= wMsgFilterMin && msg.message <= wMsgFilterMax;
}

}  // namespace

namespace host {

void ResetMessages() {
    std::lock_guard<std::mutex> guard(g_mutex);
    State().windows.clear();
    State().queue.clear();
}

}  // namespace host

extern "C" {

// NULL when proc is NULL: a window without a procedure could never be dispatched to.
HWND HostMachine_CreateWindow(WNDPROC proc) {
    return host::Guarded<HWND>(nullptr, [&]() -> HWND {
        if (!proc) return nullptr;
        std::lock_guard<std::mutex> guard(g_mutex);
        MessageState &state = State();
        HWND hwnd = reinterpret_cast<HWND>(state.uNextWindow);
        state.windows.push_back(EmulatedWindow{hwnd, proc});
        state.uNextWindow += 4;
        return hwnd;
    });
}

// hWnd NULL posts a message to the thread (no window); an unknown window fails with
// ERROR_INVALID_WINDOW_HANDLE.
BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (hWnd && !FindProc(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        MSG msg{};
        msg.hwnd = hWnd;
        msg.message = Msg;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.time = MillisecondsSinceBoot();
        State().queue.push_back(msg);
        return TRUE;
    });
}

// The oldest message that matches the window and the range (0, 0: every message); PM_REMOVE
// takes it off the queue. Never waits.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    std::lock_guard<std::mutex> guard(g_mutex);
    std::deque<MSG> &queue = State().queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
        *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE) queue.erase(it);
        return TRUE;
    }
    return FALSE;
}

// There is no keyboard input to translate.
BOOL WINAPI TranslateMessage(const MSG *lpMsg) { return FALSE; }

// The window procedure's result; 0 for a thread message or an unknown window.
LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    if (!lpMsg || !lpMsg->hwnd) return 0;
    WNDPROC pfnProc;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        pfnProc = FindProc(lpMsg->hwnd);
    }
    if (!pfnProc) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return pfnProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

}  // extern "C"
