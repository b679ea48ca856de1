// Named mutexes, as Windows has them, for keeping one instance of a program.
//
// On Windows they are the system's own (CreateMutexA, ReleaseMutex,
// CloseHandle), and so is everything below; this header adds nothing there.
//
// On Linux a named mutex is an exclusive flock on "<runtime dir>/<name>.lock", the
// runtime dir being the user's own private folder (RuntimeFolder.h), never a
// shared one such as /tmp; anything under the lock file's name that is not the
// user's own regular file (a link, another user's file) is replaced by one. The lock belongs to the open
// file, so it dies with the process that holds it: a crashed instance never
// blocks the next one. The lock file is opened close-on-exec, so programs
// started by the holder (the client it restarts) never inherit the lock.
#pragma once

#include <string>

#include "platform/win32/Win32Types.h"

#ifndef _WIN32
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline constexpr DWORD ERROR_NOT_OWNER = 288;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;

// Creates or opens the named mutex. When no other handle (of this or another
// process) holds the name, the lock is taken, last error is ERROR_SUCCESS, and
// with initialOwner the caller owns the mutex. When the name is held elsewhere,
// a handle that does not own it is returned and last error is
// ERROR_ALREADY_EXISTS. Returns null (last error set) when the lock file cannot
// be opened. Security attributes are ignored. A null name gives an unnamed
// mutex that never reports ERROR_ALREADY_EXISTS.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, const char* name);

// Gives up ownership. As on Windows, the named object lives on while the handle
// is open, so the name stays held (a new instance still sees
// ERROR_ALREADY_EXISTS) until CloseHandle or process exit. FALSE with
// ERROR_NOT_OWNER when the handle does not own the mutex.
BOOL ReleaseMutex(HANDLE mutex);

// Closes a handle returned by CreateMutexA, dropping the lock it holds.
// FALSE with ERROR_INVALID_HANDLE for anything else.
BOOL CloseHandle(HANDLE handle);

// The lock file that stands for the named mutex; empty when the user has no
// private runtime folder.
std::string MutexLockPath(const std::string& name);
#endif

// What the instance holding the named mutex says of itself (its process, its
// installation), for an instance that finds the name taken, on both systems.
// NoteMutexHolder is called by the holder once it owns the mutex; the note
// lives while the holder does (on Linux in the lock file, on Windows in a
// named file mapping beside the mutex). MutexHolderNote reads it: "" when the
// holder has written none (yet). At most 1 KiB is kept.
void NoteMutexHolder(const char* name, const std::string& note);
std::string MutexHolderNote(const char* name);
