#include "update/Trial.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "platform/win32/RemoteWindow.h"
#include "platform/win32/Shell.h"
#include "platform/win32/Window.h"
#include "update/UpdateRecord.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kProgram = 1;
constexpr int kPollMs = 100;

std::string ClientPath(const std::string& appPath) { return appPath + "ZOLTClient.exe"; }

enum class EClientWindow { kNone, kOlder, kRestarted };

// Only a window whose owner started since the client's restart on the release
// says anything about the release: a client that was running before it (one
// the run did not or could not close) would otherwise confirm a release whose
// own client never started. An owner whose start cannot be learnt, or a
// journal that kept no moment (written by an updater before it did), counts
// as restarted, as every window did before.
EClientWindow LookForClientWindow(const std::string& restarted) {
  HWND window = FindWindowA("ZOLTCLIENT", nullptr);
  if (window == nullptr) return EClientWindow::kNone;
  const bool older = !restarted.empty() && WindowOwnerStart(window, restarted) == EWindowOwnerStart::kBefore;
  UnregisterWindow(window);
  return older ? EClientWindow::kOlder : EClientWindow::kRestarted;
}

// Polls until done() or the time is up; true when done() held.
bool PollFor(int milliseconds, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    Sleep(kPollMs);
  }
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", value);
  return text;
}

void Confirm(const std::string& appPath, const SInstallJournal& journal, const std::string& why) {
  if (!KeepAsPrevious(appPath, journal))
    diagnostics::LogFact("cannot keep the journal of version " + journal.version + " with the previous release: " +
                         diagnostics::ErrorText(errno) + "; ZOLTUpdate --rollback will have nothing to put back");
  diagnostics::LogFact(why);
}

// The stores go back to the previous version in the order of a commit: the
// record, the registry, and Config.dat's version last.
bool RestoreStores(const std::string& appPath, const SInstallJournal& journal, const std::string& why) {
  const std::string section = FormatLocalTime("%Y-%m-%d");
  bool ok = WriteUpdateRecord(appPath, section, journal.version, journal.oldVersion, false);
  ok = ok && CCryptConfigFile(appPath + "UpdateRecord.dat", "")
                     .WriteString(section, "RolledBack", journal.oldVersion + ": " + why) != 0;
  ok = ok && WriteInstalledVersion(appPath, journal.oldVersion);
  ok = ok && CCryptConfigFile(appPath + "Config.dat", "").WriteString("Update", "Version", journal.oldVersion) != 0;
  return ok;
}

// journal is in state rollback (written) when this is called. Safe to repeat.
ETrialOutcome CompleteRollback(const std::string& appPath, const SInstallJournal& journal, const std::string& why) {
  const auto start = Clock::now();
  std::string cause;
  if (!PutBackKept(appPath, journal, cause)) {
    diagnostics::ReportCause("cannot roll back version " + journal.version + ": " + cause +
                             "; the next run tries again");
    return ETrialOutcome::kFailed;
  }
  if (!RestoreStores(appPath, journal, why)) {
    diagnostics::ReportCause("cannot write the stores back to version " + journal.oldVersion + ": " +
                             diagnostics::ErrorText(errno) + "; the next run tries again");
    return ETrialOutcome::kFailed;
  }
  if (!journal.release.empty() && !WriteHold(appPath, kProgram, {journal.release, journal.version}))
    diagnostics::ReportCause("cannot record that version " + journal.version + " is held back: " +
                             diagnostics::ErrorText(errno));
  DropJournalAndPrevious(appPath, kProgram);
  const bool client = PathFileExistsA(ClientPath(appPath).c_str());
  if (client) StartClient(appPath, 0);
  diagnostics::LogFact("rolled back to version " + journal.oldVersion + " (" + why + "); version " +
                       journal.version + " (" + journal.release + ") is held back on this installation" +
                       (client ? "; the previous client was started " +
                                     std::to_string(static_cast<long>(SecondsSince(start) * 1000)) +
                                     " ms after the rollback began"
                               : ""));
  return ETrialOutcome::kRolledBack;
}

ETrialOutcome RollBack(const std::string& appPath, SInstallJournal journal, const std::string& why) {
  journal.state = EJournalState::kRollback;
  journal.restarted.clear();
  if (!WriteJournal(JournalPath(appPath, kProgram), journal)) {
    diagnostics::ReportCause("cannot write the install journal for the rollback of version " + journal.version +
                             ": " + diagnostics::ErrorText(errno));
    return ETrialOutcome::kFailed;
  }
  return CompleteRollback(appPath, journal, why);
}

}  // namespace

int TrialSeconds(const std::string& appPath) {
  const int seconds = CCryptConfigFile(appPath + "Config.dat", "").ReadInteger("Update", "TrialSeconds", -1);
  return seconds < 0 ? kDefaultTrialSeconds : seconds;
}

int TrialHoldMs() {
  const char* text = std::getenv("ZOLT_TRIAL_HOLD_MS");
  if (text == nullptr || *text == '\0') return kDefaultTrialHoldMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value >= 0 && value <= kDefaultTrialHoldMs ? static_cast<int>(value) : kDefaultTrialHoldMs;
}

std::string ConfirmedText(const std::string& version) { return "version " + version + " confirmed"; }

void ConcludeCommittedInstall(const std::string& appPath, SInstallJournal journal) {
  if (!PathFileExistsA(ClientPath(appPath).c_str())) {
    Confirm(appPath, journal,
            ConfirmedText(journal.version) + " without a trial: there is no client executable " +
                NativePath(ClientPath(appPath)) + " to start");
    return;
  }
  if (TrialSeconds(appPath) == 0) {
    Confirm(appPath, journal,
            ConfirmedText(journal.version) + " without a trial: Config.dat [Update] TrialSeconds is 0");
    return;
  }
  journal.state = EJournalState::kTrial;
  // The files and the version are committed, and the client has not been
  // started on them yet: a client that starts from now on runs the release.
  journal.restarted = ProcessClockNow();
  if (!WriteJournal(JournalPath(appPath, kProgram), journal)) {
    // The journal still says "install" and the commit point is passed: the
    // next run finds it committed and puts it on trial then.
    diagnostics::LogFact("cannot put version " + journal.version + " on trial: " + diagnostics::ErrorText(errno));
    return;
  }
  diagnostics::LogFact("version " + journal.version + " is on trial until its client's window appears");
}

ETrialOutcome FinishPendingTrial(const std::string& appPath, bool startClient, std::string* version) {
  SInstallJournal journal;
  std::string cause;
  switch (ReadJournal(JournalPath(appPath, kProgram), journal, cause)) {
    case EJournalRead::kNone:
      return ETrialOutcome::kNothing;
    case EJournalRead::kRefused:
      // The session says so and removes it when it prepares.
      return ETrialOutcome::kNothing;
    case EJournalRead::kRead:
      break;
  }
  if (version != nullptr) *version = journal.version;
  if (journal.type != kProgram) return ETrialOutcome::kNothing;
  if (journal.state == EJournalState::kRollback) {
    diagnostics::LogFact("finishing the rollback of version " + journal.version + " that an earlier run began");
    return CompleteRollback(appPath, journal, "finished after an interrupted rollback");
  }
  if (journal.state != EJournalState::kTrial) return ETrialOutcome::kNothing;

  const bool client = PathFileExistsA(ClientPath(appPath).c_str());
  const int trialSeconds = TrialSeconds(appPath);
  if (!client || trialSeconds == 0) {
    Confirm(appPath, journal,
            ConfirmedText(journal.version) + " without a trial: " +
                (!client ? "there is no client executable " + NativePath(ClientPath(appPath)) + " to start"
                         : std::string("Config.dat [Update] TrialSeconds is 0")));
    return ETrialOutcome::kConfirmed;
  }
  const auto look = [&journal] { return LookForClientWindow(journal.restarted); };
  const std::string olderStays =
      "the client that was running before it was installed still holds its window, so its own client cannot "
      "start; it stays on trial, and a run after that client has closed starts its client and judges it";
  EClientWindow seen = look();
  if (startClient && seen == EClientWindow::kOlder) {
    diagnostics::LogFact("version " + journal.version + " is on trial: " + olderStays);
    return ETrialOutcome::kOpen;
  }
  if (startClient && seen == EClientWindow::kNone) {
    diagnostics::LogFact("version " + journal.version + " was on trial when an earlier run ended; starting its client");
    StartClient(appPath, 0);
  }
  auto start = Clock::now();
  auto deadline = start + std::chrono::seconds(trialSeconds);
  bool olderSeen = false, restartedHere = false;
  for (;; seen = look()) {
    if (seen == EClientWindow::kRestarted) break;
    if (seen == EClientWindow::kOlder) {
      olderSeen = true;
    } else if (olderSeen && !restartedHere) {
      // The older client has closed while the release waited: this is the
      // restart the run could not make, and the trial time begins with it.
      diagnostics::LogFact("the client that was running before version " + journal.version +
                           " was installed has closed; starting its client");
      StartClient(appPath, 0);
      restartedHere = true;
      start = Clock::now();
      deadline = start + std::chrono::seconds(trialSeconds);
    }
    if (Clock::now() >= deadline) break;
    Sleep(kPollMs);
  }
  const int holdMs = TrialHoldMs();
  std::string why;
  if (seen == EClientWindow::kOlder) {
    diagnostics::LogFact("version " + journal.version + " is on trial: " + olderStays);
    return ETrialOutcome::kOpen;
  }
  if (seen == EClientWindow::kNone) {
    why = "its client's window did not appear within " + std::to_string(trialSeconds) + " s";
  } else {
    const double appeared = SecondsSince(start);
    const auto held = Clock::now();
    bool stayed = true;
    PollFor(holdMs, [&] {
      stayed = look() == EClientWindow::kRestarted;
      return !stayed;
    });
    if (stayed) {
      Confirm(appPath, journal,
              ConfirmedText(journal.version) + ": its client's window appeared after " + Seconds(appeared) +
                  " and stayed " + Seconds(SecondsSince(held)));
      return ETrialOutcome::kConfirmed;
    }
    why = "its client's window appeared after " + Seconds(appeared) + " and was gone " +
          Seconds(SecondsSince(held)) + " later";
  }
  diagnostics::LogFact("version " + journal.version + " failed its trial: " + why);
  return RollBack(appPath, journal, "version " + journal.version + " failed its trial: " + why);
}

ETrialOutcome RollBackByHand(const std::string& appPath, std::string& refusal) {
  SInstallJournal journal;
  std::string cause;
  switch (ReadJournal(JournalPath(appPath, kProgram), journal, cause)) {
    case EJournalRead::kRead:
      if (journal.state == EJournalState::kRollback)
        return CompleteRollback(appPath, journal, "finished after an interrupted rollback");
      if (journal.state == EJournalState::kTrial) return RollBack(appPath, journal, "rolled back by hand");
      refusal = "an install of version " + journal.version +
                " was cut short; run ZOLTUpdate -silent to complete or undo it first";
      return ETrialOutcome::kNothing;
    case EJournalRead::kRefused:
      refusal = "the install journal is not usable (" + cause + "); run ZOLTUpdate -silent first";
      return ETrialOutcome::kNothing;
    case EJournalRead::kNone:
      break;
  }
  switch (ReadJournal(PreviousJournalPath(appPath, kProgram), journal, cause)) {
    case EJournalRead::kNone:
      refusal = "no previous release is kept; there is nothing to roll back to";
      return ETrialOutcome::kNothing;
    case EJournalRead::kRefused:
      refusal = "the kept previous release cannot be used (" + cause + "); nothing was changed";
      return ETrialOutcome::kNothing;
    case EJournalRead::kRead:
      break;
  }
  if (journal.state != EJournalState::kKept || journal.type != kProgram) {
    refusal = "the kept previous release cannot be used (its journal is in state " +
              std::string(JournalStateName(journal.state)) + "); nothing was changed";
    return ETrialOutcome::kNothing;
  }
  std::string installed;
  CCryptConfigFile(appPath + "Config.dat", "").ReadString("Update", "Version", "", installed);
  if (installed != journal.version) {
    refusal = "the kept previous release " + journal.oldVersion + " was replaced by " + journal.version +
              ", but version " + installed + " is installed; nothing was changed";
    return ETrialOutcome::kNothing;
  }
  diagnostics::LogFact("rolling back version " + journal.version + " to " + journal.oldVersion + " by hand");
  return RollBack(appPath, journal, "rolled back by hand");
}
