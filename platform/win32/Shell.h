// Starting programs and finding windows of other processes.
#pragma once

#include "platform/win32/Win32Types.h"
#include "platform/win32/Window.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

// Opens file: a program is started detached from the caller (its own session,
// no inherited descriptors); a web address is handed to xdg-open. Returns a
// value greater than 32 on success, as Windows does.
HINSTANCE ShellExecuteA(HWND parent, const char* verb, const char* file, const char* parameters, const char* directory,
                        int showCommand);

// Finds the top-level window of class className owned by any process of this
// user: a connection to <runtime dir>/zolt-windows/<className> succeeds. The
// handle accepts SendMessageA (one line "<msg> <wParam> <lParam>\n" each way).
// windowName is not used. Null when there is none.
HWND FindWindowA(const char* className, const char* windowName);
