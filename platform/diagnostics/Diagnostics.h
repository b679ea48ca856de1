// What a run tells its operator: the cause of every failure on stderr and, once
// the run log is open, every fact of the run in "ZOLTUpdate.log".
//
// All functions may be called from any thread; lines are written whole. None
// of them fails: a log that cannot be written (read-only folder, full disk, a
// link or something other than a regular file in its place) is skipped
// silently and never fails an update.
#pragma once

#include <string>

namespace diagnostics {

inline constexpr const char* kLogName = "ZOLTUpdate.log";
// A log that has reached this size is renamed to kLogName + ".1" (replacing
// an older one) before the next line is written.
inline constexpr long long kLogRotateBytes = 1024 * 1024;

// Starts appending to directory + kLogName (directory ends with "\" or "/").
// Until it is called, and after CloseRunLog, nothing is logged.
void OpenRunLog(const std::string& directory);
void CloseRunLog();

// A failure's cause, one line: "ZOLTUpdate: <cause>" on stderr and in the log.
void ReportCause(const std::string& cause);

// While one lives, ReportCause on its thread writes to the log only: for the
// causes of an attempt that has a fallback, whose failure fails nothing.
class CCausesAsFacts {
 public:
  CCausesAsFacts();
  ~CCausesAsFacts();
  CCausesAsFacts(const CCausesAsFacts&) = delete;
  CCausesAsFacts& operator=(const CCausesAsFacts&) = delete;

 private:
  bool previous_;
};

// A fact of the run for the log only: the mode, versions, servers, what was
// installed, the outcome. Successful runs stay quiet on stderr.
void LogFact(const std::string& fact);

// The system's text for an errno value ("Permission denied"), with the
// disk-full case spelled out for operators.
std::string ErrorText(int error);

}  // namespace diagnostics
