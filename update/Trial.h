// The trial of a new program release, and the rollback when it fails.
//
// After the commit point of a program update (type 1) and the client's
// restart, the release is on trial (its journal in state "trial", see
// install/InstallJournal.h, with the moment of the commit, from which on a
// client that starts runs the release). It is confirmed when the client's
// main window (class "ZOLTCLIENT", found with FindWindowA) of a process that
// started since that moment appears within the trial time (Config.dat
// [Update] TrialSeconds, default 60; 0 turns the trial off) and is still
// there a hold later (10 s). A client that was running before (not closed by
// the run, or refusing to close) proves nothing: while it holds the window
// the new client cannot open its own, so the release stays on trial; once
// it closes within the trial time the updater starts the client and the trial
// time begins again, and a later run judges a trial left so. Otherwise the kept previous release is
// put back through the journal, the three stores return to its version (the
// record says so with "RolledBack"), the release is held back on this
// installation and the previous client is started.
//
// The updater waits for the trial in its own process after the dialog has
// closed or the silent run is done; a run killed meanwhile leaves the journal
// in "trial" (or "rollback") state, and the next run finishes it first: it
// never confirms a release whose client window it has not seen, and never
// rolls back twice.
#pragma once

#include <string>

#include "install/InstallJournal.h"

inline constexpr int kDefaultTrialSeconds = 60;
inline constexpr int kDefaultTrialHoldMs = 10000;

// Config.dat [Update] TrialSeconds (default 60; below 0 reads as the default).
int TrialSeconds(const std::string& appPath);
// The hold after the window appeared: 10 s, or ZOLT_TRIAL_HOLD_MS (tests).
int TrialHoldMs();

// Called once the stores of a program release are written: puts the journal
// on trial, or confirms the release at once when nothing can be judged (no
// client executable, the trial turned off), saying why in the log.
void ConcludeCommittedInstall(const std::string& appPath, SInstallJournal journal);

enum class ETrialOutcome {
  kNothing,     // no trial or rollback pending
  kConfirmed,   // the release's client window was seen and stayed
  kRolledBack,  // the previous release is back and the release held
  kFailed,      // a rollback that could not be completed (cause reported; the next run goes on with it)
  kOpen,        // still on trial: a client started before the release holds the window (the log says so)
};

// Finishes what a program journal says is pending: a trial (startClient: for
// a run that finds a trial an earlier one left: start the client first when
// no window is there, and leave the trial open at once when a client older
// than the release holds it) or a rollback cut short. version receives the
// release concerned.
ETrialOutcome FinishPendingTrial(const std::string& appPath, bool startClient, std::string* version = nullptr);

// ZOLTUpdate --rollback: puts the kept previous release back and holds the
// installed one. kNothing with refusal set when there is nothing to put back.
ETrialOutcome RollBackByHand(const std::string& appPath, std::string& refusal);

// The text that a run that confirmed version ends its log with.
std::string ConfirmedText(const std::string& version);
