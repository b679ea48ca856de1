// The application object: one instance only, command line, one mode per run.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/Win32Types.h"

inline constexpr const char* kInstanceMutexName = "WIN32.ZLOTUpdateWizard.Instance.Once";

// Exit codes of the process.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefusedName = 2;  // a "-d:" name that is not one plain folder name

class CUpdateApp {
 public:
  CUpdateApp();
  virtual ~CUpdateApp();
  CUpdateApp(const CUpdateApp&) = delete;
  CUpdateApp& operator=(const CUpdateApp&) = delete;

  // The process's arguments, program name first, as main receives them.
  void SetCommandLine(int argc, char** argv);

  // Does the whole work of the process: takes the single-instance mutex, reads
  // the command line and runs one mode. Always FALSE: there is no message loop
  // to enter afterwards. A second instance returns at once, touching nothing.
  virtual BOOL InitInstance();

  // The process exit code after InitInstance: the mode's result, kExitOk for
  // a second instance, kExitRefusedName for an unsafe directory name.
  virtual int ExitInstance() { return exitCode_; }

  HANDLE instanceMutex;

 private:
  std::vector<std::string> arguments_;  // without the program name
  int exitCode_ = kExitOk;
};
