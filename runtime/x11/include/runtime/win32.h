#pragma once
// The Windows window and process functions the program calls, under their Windows names, done
// over X11 and the freedesktop.org window-manager conventions (EWMH). UI thread only.
//
// On a display that is not X11 (Qt's offscreen platform, Wayland, no application object) every
// window function does nothing, answers as a failed or empty call would, and tells the recorder
// (below) that it was skipped. Nothing aborts and nothing throws.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rt::win32 {

using HWND = std::uintptr_t;       // the native X11 window id (rt::Window::Handle())
using HANDLE = std::intptr_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using COLORREF = std::uint32_t;    // 0x00BBGGRR
using SIZE_T = std::intptr_t;      // signed here, so that -1 can be passed as the Windows callers do

inline constexpr int GWL_EXSTYLE = -20;
inline constexpr LONG WS_EX_LAYERED = 0x80000;
inline constexpr DWORD LWA_COLORKEY = 0x1;
inline constexpr DWORD LWA_ALPHA = 0x2;
inline constexpr HWND HWND_TOPMOST = static_cast<HWND>(-1);
inline constexpr HWND HWND_NOTOPMOST = static_cast<HWND>(-2);
inline constexpr UINT SWP_NOSIZE = 0x1;
inline constexpr UINT SWP_NOMOVE = 0x2;
inline constexpr HANDLE kCurrentProcess = -1;

// Gives the heap memory freed so far back to the system (malloc_trim), the nearest meaning of
// emptying the working set. Only the form (-1, -1, -1) is understood; other values do nothing and
// give false.
bool SetProcessWorkingSetSize(HANDLE process, SIZE_T minimumSize, SIZE_T maximumSize);

// The window that the root window's _NET_ACTIVE_WINDOW names; 0 when there is none.
HWND GetForegroundWindow();

// Only the topmost change is done: insertAfter HWND_TOPMOST or HWND_NOTOPMOST with
// SWP_NOSIZE | SWP_NOMOVE adds or removes _NET_WM_STATE_ABOVE through the window manager (so it
// works for other programs' windows too), which puts a window that becomes topmost on top of the
// topmost ones. As on Windows, HWND_TOPMOST for a window that is topmost already brings it to
// the top of them again; that raise is asked for only while a shown window above it covers part
// of it, and never as an activation. Without a window manager there is no topmost state, and
// HWND_TOPMOST raises the window in the X server's order the same way. Nothing else is sent when
// the window's state is already the one asked for, and the window is never activated. Any other
// request does nothing and gives false.
bool SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// The extended style of one of this process's windows as last set (0 before). Only GWL_EXSTYLE is
// kept; any other index gives 0. Clearing WS_EX_LAYERED takes a colour key off again.
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);  // answers the previous value

// With LWA_COLORKEY every pixel of the key colour in the window becomes see-through and lets the
// mouse through: the window's shape (bounding and input) is cut to the pixels of other colours and
// follows the window's content as it is repainted. Works without a compositor. Needs WS_EX_LAYERED
// set first and the window to be one of this process's widgets; false otherwise. Without
// LWA_COLORKEY the key is taken off. The alpha is not applied.
bool SetLayeredWindowAttributes(HWND window, COLORREF key, BYTE alpha, DWORD flags);

// Test seam: every call above is reported with its arguments, in the order given, and whether it
// was carried out on an X11 display. An empty function stops the reports.
struct CallRecord {
    std::string function;                 // "SetWindowPos"
    std::vector<std::int64_t> arguments;  // handles and flags as their integer values
    bool applied = false;  // false: nothing was done (not an X11 display, or a request refused)
};
void SetCallRecorder(std::function<void(const CallRecord&)> recorder);

// Test seam: when set, answers GetForegroundWindow instead of the display (the call is still
// reported). An empty function restores the display's answer.
void SetForegroundWindowHook(std::function<HWND()> hook);

// True when the application runs on an X11 display that this layer can reach.
bool OnX11Display();

}  // namespace rt::win32
