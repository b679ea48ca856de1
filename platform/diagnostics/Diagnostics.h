// What a run tells its operator: the cause of every failure on stderr and, once
// the run log is open, every fact of the run in "ZOLTUpdate.log".
//
// All functions may be called from any thread; lines are written whole. None
// of them fails: a log that cannot be written (read-only folder, full disk, a
// link or something other than a regular file in its place) never fails an
// update. The run then logs to FallbackLogFolder() instead, and stderr names
// that place once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// A warning, one line: "ZOLTUpdate: warning: <text>" on stderr, and the text
// in the log as a fact. For what an operator must hear of although the run
// goes on (a guard that is off); it is no run's cause.
void ReportWarning(const std::string& warning);

// The first cause ReportCause reported on stderr since the run log was
// opened (empty when none): the cause a run's outcome is summed up by.
std::string FirstCause();

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

// Where a run's log goes when the application folder's cannot be written:
// on Linux $XDG_STATE_HOME/zoltupdate/, by default ~/.local/state/zoltupdate/;
// on Windows %LOCALAPPDATA%\ZOLTUpdate\.
std::string FallbackLogFolder();

// The name of the user this process runs as ("uid N" when it has none).
std::string UserName();

// 0 when this process may create and remove entries in folder, else the
// errno that says why not (EACCES, EROFS, ENOENT, ...).
int FolderWriteError(const std::string& folder);

// A run that finds nothing to do leaves one line: from HoldFacts on, facts
// wait in memory; ReleaseFacts writes them, joined into one line (with the
// time of the first) when the run said it is up to date (NoteUpToDate) and
// no cause was reported, one line each otherwise. A cause writes what waits
// first and ends the holding, so a failed run's lines stay in order.
void HoldFacts();
void NoteUpToDate();
void ReleaseFacts();

// Causes and facts that a run can meet once per file (a server that lacks
// every file of a large release) are summarised: the first kShownPerKind of
// each kind are written as ReportCause or LogFact would (report chooses),
// the rest only counted, and SummariseRepeated writes one line per kind
// saying how many were left out. Counts start from zero at OpenRunLog.
inline constexpr std::size_t kShownPerKind = 20;
void ReportRepeated(const std::string& kind, const std::string& text, bool report = true);
void SummariseRepeated();

// "a, b, c" for the first kShownPerKind names, then " and N more" counting
// the rest of total (total below names.size() counts names).
std::string NameList(const std::vector<std::string>& names, std::size_t total = 0);

// The system's text for an errno value ("Permission denied"), with the
// disk-full case spelled out for operators.
std::string ErrorText(int error);

}  // namespace diagnostics
