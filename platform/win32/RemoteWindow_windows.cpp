#include <atomic>
#include <string>

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

namespace {

unsigned long long FileTimeValue(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

std::string ProcessClockNow() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return "filetime " + std::to_string(FileTimeValue(now));
}

EWindowOwnerStart WindowOwnerStart(HWND window, const std::string& moment) {
  // "filetime <100 ns since 1601, UTC>", as ProcessClockNow writes it.
  constexpr std::size_t kDigitsAt = 9;
  if (moment.compare(0, kDigitsAt, "filetime ") != 0 || moment.size() == kDigitsAt || moment.size() > kDigitsAt + 19 ||
      moment.find_first_not_of("0123456789", kDigitsAt) != std::string::npos)
    return EWindowOwnerStart::kUnknown;
  const unsigned long long since = std::stoull(moment.substr(kDigitsAt));
  DWORD owner = 0;
  if (::GetWindowThreadProcessId(window, &owner) == 0 || owner == 0) return EWindowOwnerStart::kUnknown;
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
  if (process == nullptr) return EWindowOwnerStart::kUnknown;
  FILETIME created{}, exited{}, kernel{}, user{};
  const BOOL known = ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  ::CloseHandle(process);
  if (!known) return EWindowOwnerStart::kUnknown;
  // Both are the system time: a clock set back between the two could make a
  // new client look old, which leaves its trial open rather than confirmed.
  return FileTimeValue(created) >= since ? EWindowOwnerStart::kSince : EWindowOwnerStart::kBefore;
}
