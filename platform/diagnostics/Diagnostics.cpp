#include "platform/diagnostics/Diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace diagnostics {
namespace {

std::mutex logMutex;
std::string logPath;  // empty: no log

struct Repeated {
  std::string kind;
  bool report = true;
  std::size_t seen = 0;
};
std::mutex repeatedMutex;
std::vector<Repeated> repeated;  // a handful of kinds per run

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

bool holding = false;                                   // facts wait in held
bool upToDate = false;                                  // NoteUpToDate was said
std::vector<std::pair<std::string, std::string>> held;  // the line's time and process, its text

std::string Prefix() { return Timestamp() + " [" + std::to_string(::getpid()) + "] "; }

// Writes lines (each ending with "\n") in one append; logMutex held.
void WriteToLog(const std::string& lines) {
  if (logPath.empty() || lines.empty()) return;
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
  WriteAll(fd, lines.data(), lines.size());
  ::close(fd);
}

// Writes what waits, one line each, and stops holding; logMutex held.
void WriteHeld() {
  std::string lines;
  for (const auto& [prefix, text] : held) lines += prefix + text + "\n";
  held.clear();
  holding = false;
  WriteToLog(lines);
}

void AppendToLog(const std::string& text, bool cause = false) {
  std::lock_guard lock(logMutex);
  if (logPath.empty()) return;
  if (holding && !cause) {
    held.emplace_back(Prefix(), text);
    return;
  }
  if (holding) WriteHeld();
  WriteToLog(Prefix() + text + "\n");
}

}  // namespace

void OpenRunLog(const std::string& directory) {
  {
    std::lock_guard lock(repeatedMutex);
    repeated.clear();
  }
  std::lock_guard lock(logMutex);
  logPath = NativePath(directory + kLogName);
}

void CloseRunLog() {
  std::lock_guard lock(logMutex);
  if (holding) WriteHeld();
  logPath.clear();
}

void HoldFacts() {
  std::lock_guard lock(logMutex);
  holding = true;
  upToDate = false;
  held.clear();
}

void NoteUpToDate() {
  std::lock_guard lock(logMutex);
  upToDate = true;
}

void ReleaseFacts() {
  std::lock_guard lock(logMutex);
  if (!holding || !upToDate || held.empty()) return WriteHeld();
  std::string line = held.front().first + held.front().second;
  for (std::size_t i = 1; i < held.size(); ++i) line += "; " + held[i].second;
  held.clear();
  holding = false;
  WriteToLog(line + "\n");
}

void ReportCause(const std::string& cause) {
  const std::string line = "ZOLTUpdate: " + cause + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  AppendToLog(cause, true);
}

void LogFact(const std::string& fact) { AppendToLog(fact); }

void ReportRepeated(const std::string& kind, const std::string& text, bool report) {
  std::size_t seen = 0;
  {
    std::lock_guard lock(repeatedMutex);
    auto found = std::find_if(repeated.begin(), repeated.end(),
                              [&](const Repeated& r) { return r.kind == kind && r.report == report; });
    if (found == repeated.end()) found = repeated.insert(repeated.end(), Repeated{kind, report, 0});
    seen = ++found->seen;
  }
  if (seen > kShownPerKind) return;
  report ? ReportCause(text) : LogFact(text);
}

void SummariseRepeated() {
  std::vector<Repeated> kinds;
  {
    std::lock_guard lock(repeatedMutex);
    kinds.swap(repeated);
  }
  for (const Repeated& r : kinds) {
    if (r.seen <= kShownPerKind) continue;
    const std::string line = "... and " + std::to_string(r.seen - kShownPerKind) + " more of the kind \"" + r.kind +
                             "\" (" + std::to_string(r.seen) + " in all)";
    r.report ? ReportCause(line) : LogFact(line);
  }
}

std::string NameList(const std::vector<std::string>& names, std::size_t total) {
  if (total < names.size()) total = names.size();
  std::string text;
  const std::size_t shown = std::min(names.size(), kShownPerKind);
  for (std::size_t i = 0; i < shown; ++i) text += (i == 0 ? "" : ", ") + names[i];
  if (total > shown) text += " and " + std::to_string(total - shown) + " more";
  return text;
}

std::string ErrorText(int error) {
  const char* description = ::strerrordesc_np(error);
  std::string text = description != nullptr ? description : "error " + std::to_string(error);
  if (error == ENOSPC || error == EDQUOT) text += " (the disk is full)";
  return text;
}

}  // namespace diagnostics
