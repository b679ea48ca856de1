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

// "--check": says on stdout whether the silent run of updateType (and
// moduleName) would install anything, and what; changes nothing. Returns 0 when
// up to date, 10 when an update is available, 1 when no manifest could be used.
int RunCheckMode(int updateType, const std::string& moduleName);
