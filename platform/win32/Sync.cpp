#include "platform/win32/Sync.h"

#include "platform/core_guard.h"

// The mutex lives in the structure itself, so there is nothing to allocate or
// release: initialising and deleting only mark the section's lifetime, as the
// callers expect from the Windows calls.
void InitializeCriticalSection(CRITICAL_SECTION*) {}

void DeleteCriticalSection(CRITICAL_SECTION*) {}

void EnterCriticalSection(CRITICAL_SECTION* section) { section->mutex.lock(); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { section->mutex.unlock(); }
