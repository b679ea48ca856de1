#include "platform/diagnostics/Diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace diagnostics {
namespace {

std::mutex logMutex;
std::string logPath;  // empty: no log

// Opens the log for appending without following a link at its name, and only
// when it is a regular file: a FIFO planted there must not block the run.
int OpenLogFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

void AppendToLog(const std::string& text) {
  std::lock_guard lock(logMutex);
  if (logPath.empty()) return;
  int fd = OpenLogFile(logPath);
  if (fd < 0) return;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size >= kLogRotateBytes) {
    ::close(fd);
    // rename replaces the older ".1" and never follows a link at either name.
    if (::rename(logPath.c_str(), (logPath + ".1").c_str()) != 0) return;
    fd = OpenLogFile(logPath);
    if (fd < 0) return;
  }
  const std::string line = Timestamp() + " [" + std::to_string(::getpid()) + "] " + text + "\n";
  WriteAll(fd, line.data(), line.size());
  ::close(fd);
}

}  // namespace

void OpenRunLog(const std::string& directory) {
  std::lock_guard lock(logMutex);
  logPath = NativePath(directory + kLogName);
}

void CloseRunLog() {
  std::lock_guard lock(logMutex);
  logPath.clear();
}

namespace {
thread_local bool tCausesAsFacts = false;
}  // namespace

CCausesAsFacts::CCausesAsFacts() : previous_(tCausesAsFacts) { tCausesAsFacts = true; }
CCausesAsFacts::~CCausesAsFacts() { tCausesAsFacts = previous_; }

void ReportCause(const std::string& cause) {
  if (tCausesAsFacts) return AppendToLog(cause);
  const std::string line = "ZOLTUpdate: " + cause + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  AppendToLog(cause);
}

void LogFact(const std::string& fact) { AppendToLog(fact); }

std::string ErrorText(int error) {
  const char* description = ::strerrordesc_np(error);
  std::string text = description != nullptr ? description : "error " + std::to_string(error);
  if (error == ENOSPC || error == EDQUOT) text += " (the disk is full)";
  return text;
}

}  // namespace diagnostics
