// Window messages, timers and socket notifications: one message queue per thread, shared by the host
// program and the driver library (both link this one shared library). Built on epoll with a
// timerfd and an eventfd.
//
// - A hidden window is a message target with a window procedure, owned by the thread that made it.
// - Posted messages are delivered in order; WM_TIMER messages are made when a timer is due and no
//   posted message for the same filter waits (coalesced: at most one pending per timer).
// - WSAAsyncSelect(socket, window, message, FD_READ): while the socket has data, one message
//   (wParam = socket, lParam = FD_READ) is queued for the window; after that message has been taken
//   from the queue, another follows while data remains. Readiness is checked on every peek, also
//   when only one window's messages are peeked, so no datagram ever sits unnoticed.
// - ReactorFd() is a descriptor that is readable whenever anything is pending for the thread
//   (posted message, due timer, readable socket), so a GUI toolkit's loop can watch it.
// - An exception thrown by a window procedure is caught by DispatchMessage and dropped.
// - Window handles are never reused, so a stale handle is simply a dead window.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/com.h"
#include "platform/export.h"

struct WindowRecord;
using HWND = WindowRecord*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_CLOSE = 0x20;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A hidden window of the calling thread. Every message it gets goes to proc.
TAVO_PLATFORM_API HWND AllocateHWnd(WindowProc proc);
// Destroys the window: its timers, its socket notifications and its queued messages go with it.
// Safe to call from inside its own window procedure. nullptr is ignored.
TAVO_PLATFORM_API void DeallocateHWnd(HWND hwnd);
TAVO_PLATFORM_API bool IsWindow(HWND hwnd);

// Queues a message for the window's thread (must be the calling thread); false for a dead window.
// hwnd nullptr queues a thread message (delivered to peeks of every window, dispatched to nobody).
TAVO_PLATFORM_API bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queues WM_QUIT for the calling thread.
TAVO_PLATFORM_API void PostQuitMessage(int exitCode);
// Calls the window procedure at once (same thread).
TAVO_PLATFORM_API LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
TAVO_PLATFORM_API LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// hwnd nullptr: messages of every window of the thread (and thread messages such as WM_QUIT);
// otherwise that window's only. filterMin = filterMax = 0: every message number.
TAVO_PLATFORM_API bool PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax,
                                   UINT removeFlags);
// Blocks until a message is there; false for WM_QUIT (and at once for a dead filter window).
TAVO_PLATFORM_API bool GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
TAVO_PLATFORM_API bool TranslateMessage(const MSG* msg);
// Runs the target window's procedure; exceptions from it are caught and dropped.
TAVO_PLATFORM_API LRESULT DispatchMessage(const MSG* msg);
// Waits until something is pending for the thread or the time runs out (-1: no limit);
// true when something is pending.
TAVO_PLATFORM_API bool WaitMessage(int timeoutMs);
TAVO_PLATFORM_API int ReactorFd();

// Lets one reference of object go once no window procedure of the calling thread runs any more:
// when the outermost DispatchMessage or SendMessage running now returns, or, when none runs, at the
// thread's next PeekMessage or GetMessage (ReactorFd and WaitMessage report it as pending). An
// object that a window procedure of its own reached can so give up its last reference there and
// still finish that procedure. Each call releases once; what waits when the thread ends is
// released then. nullptr is ignored.
TAVO_PLATFORM_API void ReleaseLater(IUnknown* object);

// Window timers: WM_TIMER with wParam = id every interval milliseconds (at least 1). Setting an
// existing id again restarts it with the new interval. Answers id, or 0 for a dead window.
TAVO_PLATFORM_API UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT intervalMs);
TAVO_PLATFORM_API bool KillTimer(HWND hwnd, UINT_PTR id);

// Socket read notification to a window (events FD_READ, or 0 to stop). Answers 0, or -1 with
// errno set for a dead window (EINVAL) or a bad descriptor (EBADF). Only FD_READ is produced. A new
// call for the same socket replaces the previous selection, and stopping drops the notifications
// still waiting in the queue. The socket's blocking mode is left as it is. Stop the notification
// before closing a socket; one closed without it is forgotten when its next notification is taken.
TAVO_PLATFORM_API int WSAAsyncSelect(int socket, HWND hwnd, UINT message, long events);

TAVO_PLATFORM_API void Sleep(DWORD milliseconds);
// Milliseconds since an arbitrary start, monotonic. The 32-bit form wraps every 49.7 days.
TAVO_PLATFORM_API DWORD GetTickCount();
TAVO_PLATFORM_API std::uint64_t GetTickCount64();

inline WORD LoWord(LPARAM value) { return static_cast<WORD>(static_cast<std::uintptr_t>(value) & 0xFFFF); }
inline WORD HiWord(LPARAM value) {
  return static_cast<WORD>((static_cast<std::uintptr_t>(value) >> 16) & 0xFFFF);
}
