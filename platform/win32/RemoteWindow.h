// Windows of other processes. On Windows they are the system's (FindWindowA,
// SendMessageA) and only the time limit below applies; on Linux they are
// reached through per-user stream sockets:
//
// A program owning a top-level window of class C listens on
// <runtime dir>/zolt-windows/C, the runtime dir being the user's own private
// folder (RuntimeFolder.h). The folder is created with mode 0700 and used only when it is a real
// folder owned by the user with no access for others, so no other user can
// plant or read a window there. A message travels as one line
// "<msg> <wParam> <lParam>\n" in decimal; after its handler ran the owner
// answers with one line holding the decimal result. A connection that closes
// without a line is ignored by the owner.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/Win32Types.h"
#include "platform/win32/Window.h"

// How long finding another process's window and one SendMessageA to it take
// at most, together: FindWindowA's probe gets a tenth (at most 1 s), the
// message's connect, send and answer the rest; then SendMessageA gives up and
// returns 0. A client that hangs in its handler, or no longer accepts, must
// not hang the caller.
inline constexpr unsigned kRemoteWindowDefaultTimeoutMs = 10000;

// Changes that limit (tests); 0 restores the default.
void SetRemoteWindowTimeout(unsigned milliseconds);

// Now, on the clock that process start times are kept by, as a line of text
// that a later process can read back (the updater keeps the moment it
// restarts the client in the install journal): on Linux the boot's id and the
// nanoseconds since boot, on Windows the system time as a FILETIME.
std::string ProcessClockNow();

enum class EWindowOwnerStart {
  kBefore,   // the owner was running before the moment
  kSince,    // the owner started at or after the moment
  kUnknown,  // the owner or its start cannot be learnt, or the moment is not one of this system's texts
};

// When the process that owns window (another process's window, as FindWindowA
// gives it) started, against moment (a text of ProcessClockNow, maybe written
// by an earlier process or before a reboot: every process of a later boot
// started since). The owner is the process that opened the window (on Linux
// the one that listens on its socket). A start is known to the system's
// resolution (on Linux a clock tick, 10 ms): an owner started within it
// before the moment counts as started since. Any thread.
EWindowOwnerStart WindowOwnerStart(HWND window, const std::string& moment);

#ifndef _WIN32
// The socket a window of className listens on; empty when the folder cannot be
// made safe (wrong owner, open to others, a link) or the path is too long.
std::string RemoteWindowSocketPath(const std::string& className, bool createFolder);

// The owner's end: the listening socket of one window class.
class CRemoteWindowOwner {
 public:
  using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

  CRemoteWindowOwner() = default;
  ~CRemoteWindowOwner();
  CRemoteWindowOwner(const CRemoteWindowOwner&) = delete;
  CRemoteWindowOwner& operator=(const CRemoteWindowOwner&) = delete;

  // Starts listening as className. A stale socket left by a dead owner is
  // replaced; false when a live owner already listens or the socket cannot be
  // made.
  bool Listen(const std::string& className);

  // Waits up to timeoutMs (negative: for ever) for one message, runs handler,
  // answers, and returns true. False on time-out or when nothing valid came.
  bool HandleNext(const Handler& handler, int timeoutMs);

  // Stops listening and removes the socket (when it is still ours).
  void Close();

 private:
  int fd_ = -1;
  std::string path_;
  unsigned long long inode_ = 0;
};
#endif
