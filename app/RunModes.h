// The three run modes, each run once and synchronously by CUpdateApp.
// Each returns the process exit code: 0 when the run ended normally.
#pragma once

#include <string>

// The update dialog for updateType and moduleName.
int RunInteractiveMode(int updateType, const std::string& moduleName);

// The silent update of the client program (update type 1, name "Program").
int RunSilentProgramMode();

// The silent update of the component folder moduleName with its own manifest.
int RunSilentComponentMode(int updateType, const std::string& moduleName);

// Finishes the trial (or rollback) a program journal says is pending (see
// update/Trial.h): resumed for one an earlier run left, which starts the
// client when its window is not there. -1 when nothing was pending; else the
// exit status (0 confirmed, 4 rolled back, 1 a rollback not completed), with
// confirmed set to the log's text for a confirmed release.
int FinishProgramTrial(const std::string& appPath, bool resumed, std::string& confirmed);

// ZOLTUpdate --rollback and --status (after the instance lock): 0 done, 1 a
// failure, 2 refused with a line on stderr when there is nothing to do.
int RunRollbackCommand(const std::string& appPath);
int RunStatusCommand(const std::string& appPath);

// "--check": says on stdout whether the silent run of updateType (and
// moduleName) would install anything, and what; changes nothing. Returns 0 when
// up to date, 10 when an update is available, 1 when no manifest could be used.
int RunCheckMode(int updateType, const std::string& moduleName);
