// Starting programs and finding windows of other processes.
#pragma once

#include "platform/win32/Win32Types.h"
#include "platform/win32/Window.h"

#ifdef _WIN32
// FindWindowA is the system's. ShellExecuteA is the program's own: it takes
// UTF-8 (the client may live in a folder with a Chinese name) and calls
// ShellExecuteW.
#include <shellapi.h>
#define ShellExecuteA ZoltShellExecuteA
#else
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
#endif

// Opens file: a program is started detached from the caller (its own session,
// no inherited descriptors); a web address is handed to xdg-open. Returns a
// value greater than 32 on success, as Windows does.
HINSTANCE ShellExecuteA(HWND parent, const char* verb, const char* file, const char* parameters, const char* directory,
                        int showCommand);

#ifndef _WIN32
// Finds the top-level window of class className owned by any process of this
// user: a connection to <runtime dir>/zolt-windows/<className> succeeds. The
// handle accepts SendMessageA (one line "<msg> <wParam> <lParam>\n" each way).
// windowName is not used. Null when there is none.
HWND FindWindowA(const char* className, const char* windowName);
#endif
