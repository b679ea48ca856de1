// Windows and window messages inside the process, and the handle table that
// stands for the window manager.
//
// A handle is a number given out by RegisterWindow and never reused, so a
// message to a window that is gone finds nothing instead of freed memory.
// Implementations of CWindowTarget decide how a message reaches their handler:
// an in-process dialog runs it on its own thread, a window of another process
// is reached through a socket (see FindWindowA).
#pragma once

#include <memory>

#include "platform/win32/Win32Types.h"

#ifdef _WIN32
// A handle of the table below is no window of the system's: these route it to
// its target and every other handle to the system's calls.
#define SendMessageA ZoltSendMessageA
#define PostMessageA ZoltPostMessageA
#else
struct HWND__;
using HWND = HWND__*;
#endif

class CWindowTarget {
 public:
  virtual ~CWindowTarget() = default;

  // Runs the window's handler for msg and returns its result. May be called
  // from any thread; when the window belongs to another thread, waits until
  // that thread has run the handler. Returns 0 without waiting once the window
  // is being destroyed.
  virtual LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

  // Queues msg for the window's own thread. False when the window no longer
  // accepts messages.
  virtual bool Post(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// Gives target a handle. The table keeps a reference until UnregisterWindow.
HWND RegisterWindow(std::shared_ptr<CWindowTarget> target);

// Removes the handle: later sends and posts to it do nothing. A send already
// under way holds its own reference to the target, so the target must itself
// stop waiting senders when it is destroyed (see CWindowTarget::Send).
void UnregisterWindow(HWND window);

// The target behind a handle, or null when the handle is unknown or gone.
std::shared_ptr<CWindowTarget> LookupWindow(HWND window);

// Sends msg and waits for the handler's result; 0 when the window is gone.
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Queues msg; FALSE when the window is gone.
BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// A handle the table does not know: on Windows a window of the system, sent
// to with a time-out (SetRemoteWindowTimeout, RemoteWindow.h) so that a hung
// client cannot hang the caller; on Linux nothing (0, FALSE).
LRESULT SendToSystemWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostToSystemWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Whether a handle the table does not know is a live window of the system's
// (on Windows the dialogs are such windows: IsWindow); on Linux false.
bool IsSystemWindow(HWND window);
