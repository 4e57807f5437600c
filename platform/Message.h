// Thread message queues, for the one use the system makes of them: the quit
// message (WM_QUIT) that ends the main thread's message loop.
//
// A thread's queue exists from the first call that names the thread
// (posting to it or reading from it), so a quit posted before the loop has
// started is kept and ends the loop as soon as it runs: never lost. There
// are no windows: TranslateMessage and DispatchMessageW do nothing for the
// thread messages this layer carries.
#pragma once

#include "platform/Sync.h"

using HWND = void*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

VELMO_PLATFORM_API BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
VELMO_PLATFORM_API void PostQuitMessage(int exitCode);
// Waits for the next message of the calling thread. Returns 0 for WM_QUIT,
// -1 on failure (a window or filter is given), otherwise nonzero.
VELMO_PLATFORM_API BOOL GetMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
constexpr UINT PM_NOREMOVE = 0x0;
constexpr UINT PM_REMOVE = 0x1;
// The next message of the calling thread without waiting; FALSE when none.
VELMO_PLATFORM_API BOOL PeekMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
VELMO_PLATFORM_API BOOL TranslateMessage(const MSG* msg);
VELMO_PLATFORM_API LONG DispatchMessageW(const MSG* msg);
