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
