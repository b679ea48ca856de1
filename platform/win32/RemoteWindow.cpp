#include "platform/win32/RemoteWindow.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
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
#include "platform/win32/Files.h"
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
// owner receives the listener's process id (0 when it is in another pid
// namespace).
int ConnectTo(const std::string& path, Clock::time_point deadline, pid_t* owner = nullptr) {
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
  if (owner != nullptr) *owner = peer.pid;
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
  CRemoteWindowTarget(std::string path, pid_t owner) : path_(std::move(path)), owner_(owner) {}

  pid_t Owner() const { return owner_; }

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
  pid_t owner_;
};

std::string BootId() {
  std::string id;
  ReadWholeFile("/proc/sys/kernel/random/boot_id", id);
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id.find_first_of(" \n") == std::string::npos ? id : std::string();
}

// The process's start in clock ticks since boot (/proc/<pid>/stat, field 22),
// on the same clock as CLOCK_BOOTTIME; false when the process is gone.
bool StartTicks(pid_t pid, unsigned long long& ticks) {
  std::string stat;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return false;
  // The command name (field 2) is in parentheses and may hold anything,
  // spaces and parentheses too: the fields go on after the last ")".
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  const char* at = stat.c_str() + close + 1;
  for (int field = 3; field < 22; ++field) {
    at = std::strchr(at + 1, ' ');
    if (at == nullptr) return false;
  }
  char* end = nullptr;
  errno = 0;
  ticks = std::strtoull(at + 1, &end, 10);
  return errno == 0 && end != at + 1 && (*end == ' ' || *end == '\n' || *end == '\0');
}

}  // namespace

std::string ProcessClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  const unsigned long long nanoseconds =
      static_cast<unsigned long long>(now.tv_sec) * 1000000000ull + static_cast<unsigned long long>(now.tv_nsec);
  return "boot " + BootId() + " " + std::to_string(nanoseconds);
}

EWindowOwnerStart WindowOwnerStart(HWND window, const std::string& moment) {
  // "boot <id> <nanoseconds>", as ProcessClockNow writes it.
  const std::size_t space = moment.rfind(' ');
  if (!moment.starts_with("boot ") || space <= 5 || space + 1 == moment.size() ||
      moment.find_first_not_of("0123456789", space + 1) != std::string::npos || space + 1 + 19 < moment.size())
    return EWindowOwnerStart::kUnknown;
  const std::string id = moment.substr(5, space - 5);
  if (id.find(' ') != std::string::npos) return EWindowOwnerStart::kUnknown;
  const unsigned long long nanoseconds = std::strtoull(moment.c_str() + space + 1, nullptr, 10);
  const auto target = std::dynamic_pointer_cast<CRemoteWindowTarget>(LookupWindow(window));
  if (!target || target->Owner() <= 0) return EWindowOwnerStart::kUnknown;
  // A moment of an earlier boot: every process running now started since.
  const std::string boot = BootId();
  if (boot.empty()) return EWindowOwnerStart::kUnknown;
  if (boot != id) return EWindowOwnerStart::kSince;
  unsigned long long started = 0;
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (perSecond <= 0 || !StartTicks(target->Owner(), started)) return EWindowOwnerStart::kUnknown;
  // The start is known in whole ticks, rounded down: so is the moment, for
  // a process started in the same tick as the moment counts as since.
  const unsigned long long momentTicks = nanoseconds / (1000000000ull / static_cast<unsigned long long>(perSecond));
  return started >= momentTicks ? EWindowOwnerStart::kSince : EWindowOwnerStart::kBefore;
}

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
  pid_t owner = 0;
  const int probe = ConnectTo(path, Clock::now() + std::chrono::milliseconds(ProbeTimeoutMs()), &owner);
  if (probe < 0) return nullptr;
  ::close(probe);
  return RegisterWindow(std::make_shared<CRemoteWindowTarget>(std::move(path), owner));
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
