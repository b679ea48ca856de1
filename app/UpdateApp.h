// The application object: one instance only, command line, one mode per run.
#pragma once

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/win32/Win32Types.h"

inline constexpr const char* kInstanceMutexName = "WIN32.ZLOTUpdateWizard.Instance.Once";

// Exit codes of the process.
inline constexpr int kExitOk = 0;             // up to date, or everything installed
inline constexpr int kExitFailed = 1;         // nothing, or not everything, installed because of a failure
inline constexpr int kExitRefusedName = 2;    // a bad command line: an unknown "--" option, a "-d:" name
                                              // that is not one plain folder name, or one without a
                                              // component type
inline constexpr int kExitOtherInstance = 3;  // another instance is running
inline constexpr int kExitRolledBack = 4;     // installed, then rolled back: the new client did not start
// "--check" only: a run would install something.
inline constexpr int kExitUpdateAvailable = 10;

class CUpdateApp {
 public:
  CUpdateApp();
  virtual ~CUpdateApp();
  CUpdateApp(const CUpdateApp&) = delete;
  CUpdateApp& operator=(const CUpdateApp&) = delete;

  // The process's arguments, program name first, as main receives them.
  void SetCommandLine(int argc, char** argv);

  // Does the whole work of the process: answers --help and --version without
  // starting anything, takes the single-instance mutex, reads the command line
  // and runs one mode, logging the run to ZOLTUpdate.log in the application
  // directory. Always FALSE: there is no message loop to enter afterwards. A
  // second instance returns at once, touching nothing but the log, and says
  // so on stderr.
  virtual BOOL InitInstance();

  // The process exit code after InitInstance: the mode's result (kExitOk or
  // kExitFailed), kExitOtherInstance for a second instance, kExitRefusedName
  // for an unknown "--" option or an unsafe directory name.
  virtual int ExitInstance() { return exitCode_; }

  HANDLE instanceMutex;

 private:
  // One mode, after the mutex; returns the exit code.
  int Run(const StartupOptions& options);

  std::vector<std::string> arguments_;         // without the program name
  std::vector<std::string> ignoredArguments_;  // named on stderr, and in the log once it is open
  std::string confirmed_;                      // "version V confirmed" when the run confirmed a release
  int exitCode_ = kExitOk;
};
