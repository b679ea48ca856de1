#include "platform/diagnostics/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/core_guard.h"
#include "platform/diagnostics/LogFile.h"
#include "platform/win32/Files.h"
#include "platform/win32/Runtime.h"

namespace diagnostics {
namespace {

std::mutex logMutex;
std::string logPath;         // empty: no log
bool fallbackTried = false;  // logPath was unwritable once and has been replaced

// Set while a run logs to its fallback, so that the dialog module, which has a
// copy of this code of its own, does not announce the same place again.
constexpr const char* kFallbackMarker = "ZOLTUPDATE_LOG_FALLBACK";

struct Repeated {
  std::string kind;
  bool report = true;
  std::size_t seen = 0;
};
std::mutex repeatedMutex;
std::vector<Repeated> repeated;  // a handful of kinds per run

// Called with logMutex held when logPath cannot be opened: moves the log to
// the user's state folder and says so once on stderr.
int OpenFallbackLog(int reason) {
  fallbackTried = true;
  const std::string wanted = logPath;
  logPath = FallbackLogFolder() + kLogName;
  const int fd = MakePrivateFolders(FallbackLogFolder()) ? OpenLogFile(logPath) : -1;
  const std::string notice =
      wanted + " cannot be written (" + ErrorText(reason) + "); " +
      (fd >= 0 ? "this run is logged to " + logPath : "nor can " + logPath + ": nothing is logged");
  const char* said = std::getenv(kFallbackMarker);
  if (said == nullptr || notice != said) {
    const std::string line = "ZOLTUpdate: " + notice + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    SetProcessVariable(kFallbackMarker, notice);
  }
  if (fd < 0) logPath.clear();
  return fd;
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  crt::LocalCalendar(now, local);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

bool holding = false;                                   // facts wait in held
bool upToDate = false;                                  // NoteUpToDate was said
std::vector<std::pair<std::string, std::string>> held;  // the line's time and process, its text

std::string Prefix() { return Timestamp() + " [" + std::to_string(ProcessId()) + "] "; }

// Writes lines (each ending with "\n") in one append; logMutex held.
void WriteToLog(const std::string& lines) {
  if (logPath.empty() || lines.empty()) return;
  int fd = OpenLogFile(logPath);
  if (fd < 0 && !fallbackTried) fd = OpenFallbackLog(errno);
  if (fd < 0) return;
  if (DescriptorSize(fd) >= kLogRotateBytes) {
    CloseDescriptor(fd);
    if (!RotateLogFile(logPath, logPath + ".1")) return;
    fd = OpenLogFile(logPath);
    if (fd < 0) return;
  }
  WriteAll(fd, lines.data(), lines.size());
  CloseDescriptor(fd);
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
  fallbackTried = false;
}

void CloseRunLog() {
  std::lock_guard lock(logMutex);
  if (holding) WriteHeld();
  logPath.clear();
}


namespace {
thread_local bool tCausesAsFacts = false;
}  // namespace

CCausesAsFacts::CCausesAsFacts() : previous_(tCausesAsFacts) { tCausesAsFacts = true; }
CCausesAsFacts::~CCausesAsFacts() { tCausesAsFacts = previous_; }

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

namespace {
std::mutex firstCauseMutex;
std::string firstCause;
}  // namespace

std::string FirstCause() {
  std::lock_guard lock(firstCauseMutex);
  return firstCause;
}

void ReportCause(const std::string& cause) {
  // A cause that the run works around (a failed patch, with the plain file
  // fetched instead) is a fact of the log only.
  if (tCausesAsFacts) return AppendToLog(cause);
  {
    std::lock_guard lock(firstCauseMutex);
    if (firstCause.empty()) firstCause = cause;
  }
  // The log first: when it has to move, the line that says where comes
  // before the cause on stderr.
  AppendToLog(cause, true);
  const std::string line = "ZOLTUpdate: " + cause + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void LogFact(const std::string& fact) { AppendToLog(fact); }

void ReportWarning(const std::string& warning) {
  AppendToLog("warning: " + warning);
  const std::string line = "ZOLTUpdate: warning: " + warning + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

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


}  // namespace diagnostics
