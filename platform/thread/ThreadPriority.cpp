#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core_guard.h"
#include "platform/thread/ThreadBase.h"

void LowerCurrentThreadPriority(int steps) {
  // Linux keeps the nice value per thread (the POSIX per-process meaning does
  // not hold there), and a new thread starts with its creator's.
  const auto thread = static_cast<id_t>(::gettid());
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, thread);
  if (errno == 0) ::setpriority(PRIO_PROCESS, thread, current + steps);
}
