#include "app/UpdateApp.h"

#include <cstdio>

#include "app/CommandLine.h"
#include "app/RunModes.h"
#include "platform/win32/Mutex.h"

CUpdateApp::CUpdateApp() : instanceMutex(INVALID_HANDLE_VALUE) {}

CUpdateApp::~CUpdateApp() {
  // The handle itself stays open until the process ends, so the name stays
  // held until the very last moment of this instance.
  if (instanceMutex != nullptr && instanceMutex != INVALID_HANDLE_VALUE) ReleaseMutex(instanceMutex);
}

void CUpdateApp::SetCommandLine(int argc, char** argv) {
  arguments_.clear();
  for (int i = 1; i < argc; ++i) arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
}

BOOL CUpdateApp::InitInstance() {
  instanceMutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (instanceMutex != nullptr) ReleaseMutex(instanceMutex);
    exitCode_ = kExitOk;
    return FALSE;
  }
  // Any other failure to create the mutex leaves the run unguarded, which is
  // better than no update at all.

  const StartupOptions options = ParseCommandLine(arguments_);
  if (UsesModuleName(options) && !IsPlainDirectoryName(options.moduleName)) {
    std::fprintf(stderr,
                 "ZOLTUpdate: refusing directory name \"%s\": -d: takes one folder name below the "
                 "application directory (no \\, /, drive or \".\"/\"..\")\n",
                 options.moduleName.c_str());
    exitCode_ = kExitRefusedName;
    return FALSE;
  }

  switch (options.mode) {
    case RunMode::Interactive:
      exitCode_ = RunInteractiveMode(options.updateType, options.moduleName);
      break;
    case RunMode::SilentProgram:
      exitCode_ = RunSilentProgramMode();
      break;
    case RunMode::SilentComponent:
      exitCode_ = RunSilentComponentMode(options.updateType, options.moduleName);
      break;
  }
  return FALSE;
}
