#include "platform/win32/RemoteWindow.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/core_guard.h"
#include "platform/win32/RuntimeFolder.h"
#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"

namespace {

std::atomic<unsigned> g_timeoutMs{kRemoteWindowDefaultTimeoutMs};

using Clock = std::chrono::steady_clock;

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The probe of FindWindowA gets a small share of the limit, the message (its
// connect, send and answer) the rest, so closing a client takes the limit in
// all. A live owner's socket completes a connect at once, without an accept.
unsigned ProbeTimeoutMs() { return std::min(1000u, g_timeoutMs.load() / 10); }
unsigned MessageTimeoutMs() { return g_timeoutMs.load() - ProbeTimeoutMs(); }

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(1),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// A connect to an owner whose accept queue is full (an owner that hangs and
// no longer accepts) waits for room; SO_SNDTIMEO bounds that wait on a local
// socket, and every later send on it, so nothing here waits past deadline.
int ConnectTo(const std::string& path, Clock::time_point deadline) {
  sockaddr_un address{};
  if (!FillAddress(path, address)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const auto left = Left(deadline).count();
  const timeval limit{static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  // Only a window of the user's own: a socket of another user's process
  // (whatever stands in the folder) must not receive WM_CLOSE or anything
  // else. The kernel names the listener's user, which the socket file's
  // owner does not prove.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads up to the first "\n" within the time limit; false on time-out, error or
// a connection closed before the line was complete.
bool ReadLine(int fd, std::string& line, Clock::time_point deadline) {
  line.clear();
  char buffer[128];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line.append(buffer, static_cast<size_t>(n));
    const auto end = line.find('\n');
    if (end != std::string::npos) {
      line.resize(end);
      return true;
    }
    if (line.size() > 256) return false;  // no message is that long
  }
}

std::string FormatMessageLine(UINT msg, WPARAM wParam, LPARAM lParam) {
  char text[96];
  std::snprintf(text, sizeof text, "%u %llu %lld\n", msg, static_cast<unsigned long long>(wParam),
                static_cast<long long>(lParam));
  return text;
}

// A window of another process: every message is one short connection.
class CRemoteWindowTarget final : public CWindowTarget {
 public:
  explicit CRemoteWindowTarget(std::string path) : path_(std::move(path)) {}

  LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(MessageTimeoutMs());
    const int fd = ConnectTo(path_, deadline);
    if (fd < 0) return 0;
    LRESULT result = 0;
    std::string reply;
    if (SendAll(fd, FormatMessageLine(msg, wParam, lParam)) && ReadLine(fd, reply, deadline)) {
      result = static_cast<LRESULT>(std::strtoll(reply.c_str(), nullptr, 10));
    }
    ::close(fd);
    return result;
  }

  bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override {
    const int fd = ConnectTo(path_, Clock::now() + std::chrono::milliseconds(MessageTimeoutMs()));
    if (fd < 0) return false;
    const bool sent = SendAll(fd, FormatMessageLine(msg, wParam, lParam));
    ::close(fd);
    return sent;
  }

 private:
  std::string path_;
};

}  // namespace

void SetRemoteWindowTimeout(unsigned milliseconds) {
  g_timeoutMs = milliseconds == 0 ? kRemoteWindowDefaultTimeoutMs : milliseconds;
}

std::string RemoteWindowSocketPath(const std::string& className, bool createFolder) {
  if (className.empty() || className.find('/') != std::string::npos || className == "." || className == "..") return {};
  const std::string runtime = UserRuntimeFolder();
  if (runtime.empty()) return {};
  const std::string folder = runtime + "/zolt-windows";
  if (createFolder) ::mkdir(folder.c_str(), 0700);
  if (!IsOwnFolder(folder, true)) return {};
  std::string path = folder + "/" + className;
  sockaddr_un address{};
  if (!FillAddress(path, address)) return {};
  return path;
}

HWND FindWindowA(const char* className, const char* /*windowName*/) {
  if (className == nullptr) return nullptr;
  std::string path = RemoteWindowSocketPath(className, false);
  if (path.empty()) return nullptr;
  // Only a listener makes the window exist; a socket file left by a dead owner
  // refuses the connection.
  const int probe = ConnectTo(path, Clock::now() + std::chrono::milliseconds(ProbeTimeoutMs()));
  if (probe < 0) return nullptr;
  ::close(probe);
  return RegisterWindow(std::make_shared<CRemoteWindowTarget>(std::move(path)));
}

CRemoteWindowOwner::~CRemoteWindowOwner() { Close(); }

bool CRemoteWindowOwner::Listen(const std::string& className) {
  Close();
  const std::string path = RemoteWindowSocketPath(className, true);
  if (path.empty()) return false;
  const int live = ConnectTo(path, Clock::now() + std::chrono::milliseconds(ProbeTimeoutMs()));
  if (live >= 0) {
    ::close(live);
    return false;
  }
  // A stale socket of a dead owner, if any; anything else there is not ours.
  struct stat found {};
  if (::lstat(path.c_str(), &found) == 0) {
    if (!S_ISSOCK(found.st_mode) || !IsOwnEntry(path)) return false;
    ::unlink(path.c_str());
  }

  sockaddr_un address{};
  FillAddress(path, address);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return false;
  }
  struct stat st {};
  ::lstat(path.c_str(), &st);
  fd_ = fd;
  path_ = path;
  inode_ = st.st_ino;
  return true;
}

bool CRemoteWindowOwner::HandleNext(const Handler& handler, int timeoutMs) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return false;

  // A peer that connects and says nothing (FindWindowA's probe) is dropped; a
  // silent one cannot hold the owner for longer than this.
  std::string line;
  bool handled = false;
  if (ReadLine(connection, line, Clock::now() + std::chrono::seconds(2))) {
    unsigned long long msg = 0, wParam = 0;
    long long lParam = 0;
    if (std::sscanf(line.c_str(), "%llu %llu %lld", &msg, &wParam, &lParam) == 3) {
      const LRESULT result = handler(static_cast<UINT>(msg), static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
      SendAll(connection, std::to_string(static_cast<long long>(result)) + "\n");
      handled = true;
    }
  }
  ::close(connection);
  return handled;
}

void CRemoteWindowOwner::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  // A newer owner may have replaced a socket we no longer answered on.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_) ::unlink(path_.c_str());
  path_.clear();
}

// Windows of other processes are table entries on Linux (FindWindowA
// registers them); no other handle stands for a window.
LRESULT SendToSystemWindow(HWND, UINT, WPARAM, LPARAM) { return 0; }

BOOL PostToSystemWindow(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

bool IsSystemWindow(HWND) { return false; }
