// Critical sections, as Windows has them (recursive for the owning thread).
#pragma once

#include "platform/win32/Win32Types.h"

#ifndef _WIN32
// On Windows the SDK's CRITICAL_SECTION and calls.
#include <mutex>

struct CRITICAL_SECTION {
  std::recursive_mutex mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
#endif
