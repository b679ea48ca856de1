#include <atomic>

#include "platform/core_guard.h"
#include "platform/win32/RemoteWindow.h"
#include "platform/win32/Window.h"

namespace {
std::atomic<unsigned> g_timeoutMs{kRemoteWindowDefaultTimeoutMs};
}  // namespace

void SetRemoteWindowTimeout(unsigned milliseconds) {
  g_timeoutMs = milliseconds == 0 ? kRemoteWindowDefaultTimeoutMs : milliseconds;
}

// The macros of Window.h name the program's own calls; these are the system's.
#undef SendMessageA
#undef PostMessageA

LRESULT SendToSystemWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  // A client that hangs in its handler, or no longer pumps messages, must
  // not hang the updater: SMTO_ABORTIFHUNG gives up on a hung one at once.
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, g_timeoutMs.load(),
                            &result) == 0)
    return 0;
  return static_cast<LRESULT>(result);
}

BOOL PostToSystemWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(window, msg, wParam, lParam);
}

bool IsSystemWindow(HWND window) { return window != nullptr && ::IsWindow(window) != FALSE; }
