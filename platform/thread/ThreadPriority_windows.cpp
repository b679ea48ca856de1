#include "platform/core_guard.h"
#include "platform/thread/ThreadBase.h"
#include "platform/win32/Win32Types.h"

void LowerCurrentThreadPriority(int steps) {
  // Windows has two steps below normal for a thread of a normal process, and
  // a new thread starts at normal whatever its creator's: threads started
  // from here on are not lowered.
  const int priority = steps >= 5 ? THREAD_PRIORITY_LOWEST : steps > 0 ? THREAD_PRIORITY_BELOW_NORMAL : 0;
  if (priority != 0) ::SetThreadPriority(::GetCurrentThread(), priority);
}
