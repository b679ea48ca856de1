#include "app/UpdateApp.h"

#include <cstdio>

#include "app/CommandLine.h"
#include "app/RunModes.h"
#include "app/RunState.h"
#include "platform/Version.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/diagnostics/LogFile.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "platform/win32/Mutex.h"
#include "ui/UiModule.h"
#include "update/UpdateManifest.h"

namespace {

constexpr const char* kHelp =
    "usage: ZOLTUpdate                      the update dialog (needs a display)\n"
    "       ZOLTUpdate -silent              silent update of the client program\n"
    "       ZOLTUpdate -silent -t:N -d:NAME silent update of the component folder NAME (type N, not 1)\n"
    "       ZOLTUpdate --rollback           put the kept previous release back and hold the installed one\n"
    "       ZOLTUpdate --status             the installation's state as JSON on stdout\n"
    "       ZOLTUpdate --check [-t:N -d:NAME]  say whether the silent run would install anything, and\n"
    "                                       what; changes nothing\n"
    "       ZOLTUpdate --help | --version\n"
    "Any other argument beginning with \"--\" is refused (exit 2), and so is -d: without a component type\n"
    "(-t:N, N other than 1); any other argument is ignored, and named on stderr.\n"
    "Runs from the client's application folder, which holds Config.dat and UserConfig.dat;\n"
    "every run is logged to ZOLTUpdate.log there.\n"
    "Exit status: 0 up to date or everything installed; 1 a failure (nothing or not everything\n"
    "installed); 2 a bad command line or a refused name, or nothing to do for --rollback or --status;\n"
    "3 another instance is running; 4 installed, then rolled back because the new client did not start;\n"
    "10 (--check only) an update is available.\n";

std::string Describe(const StartupOptions& options) {
  switch (options.mode) {
    case RunMode::Interactive:
      return "update dialog, type " + std::to_string(options.updateType) +
             (options.moduleName.empty() ? "" : ", folder \"" + options.moduleName + "\"");
    case RunMode::SilentProgram:
      return "silent program update";
    case RunMode::SilentComponent:
      return "silent component update, type " + std::to_string(options.updateType) + ", folder \"" +
             options.moduleName + "\"";
    case RunMode::Check:
      return "check, type " + std::to_string(options.updateType) +
             (options.updateType == 1 ? "" : ", folder \"" + options.moduleName + "\"");
  }
  return "";
}

// Run's result for a rollback: the dialog module's results take 4 and 5.
constexpr int kRolledBackResult = 100 + kExitRolledBack;

const char* Outcome(int result) {
  switch (result) {
    case kUiDeclined:
      return "nothing installed: the user declined the update";
    case kUiCancelled:
      return "nothing installed: the user cancelled the download";
    case kExitOk:
      return "up to date or everything installed";
    case kExitFailed:
      return "failed: nothing or not everything installed";
    case kExitRefusedName:
      return "refused";
    case kExitOtherInstance:
      return "another instance is running";
    case kRolledBackResult:
      return "installed, then rolled back: the new client did not start";
    case kExitUpdateAvailable:
      return "checked: an update is available";
  }
  return "unknown";
}

// The folder the package installs the updater into (".../lib/zoltupdate/"),
// which holds no installation of a client.
bool IsPackageFolder(const std::string& appPath) {
  constexpr std::string_view kPackageFolder = "/lib/zoltupdate/";
  return appPath.ends_with(kPackageFolder) && !PathFileExistsA((appPath + "Config.dat").c_str());
}

}  // namespace

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
  // Asked for by people and scripts at a terminal: neither takes the mutex nor
  // touches the installation.
  for (const std::string& argument : arguments_) {
    if (&argument == FindUnknownOption(arguments_)) {
      // Taken for the dialog, a typo such as "--helpp" would open a window
      // (or fail on the display) instead of saying what went wrong.
      std::fprintf(stderr, "ZOLTUpdate: unknown option \"%s\"\nTry 'ZOLTUpdate --help' for the usage.\n",
                   argument.c_str());
      exitCode_ = kExitRefusedName;
      return FALSE;
    }
    if (argument == "--help") {
      std::fputs(kHelp, stdout);
      exitCode_ = kExitOk;
      return FALSE;
    }
    if (argument == "--version") {
      std::printf("ZOLTUpdate %s\n", ZOLT_VERSION);
      exitCode_ = kExitOk;
      return FALSE;
    }
  }

  // Ignored, as they always were, but a typo such as "-silnet" or "-type:3"
  // would otherwise run something else than was meant without a word.
  const CommandLineReview review = ReviewCommandLine(arguments_);
  ignoredArguments_ = review.ignored;
  for (const std::string& argument : review.ignored)
    std::fprintf(stderr, "ZOLTUpdate: ignoring the argument \"%s\" (the updater takes -silent, -t:N and -d:NAME)\n",
                 argument.c_str());
  if (!review.refusal.empty()) {
    std::fprintf(stderr, "ZOLTUpdate: %s\nTry 'ZOLTUpdate --help' for the usage.\n", review.refusal.c_str());
    exitCode_ = kExitRefusedName;
    return FALSE;
  }

  std::string appPath;
  CDirectoryEx::GetApplicationPath(appPath);
  if (IsPackageFolder(appPath)) {
    // Run there, it would make UPDATE/ and its log beside the package's files.
    std::fprintf(stderr,
                 "ZOLTUpdate: %s is where the package keeps the updater, not a client's folder; copy ZOLTUpdate "
                 "and ZOLTUpdateUI.so into the client's application folder (beside ZOLTClient.exe and Config.dat) "
                 "and run it there\n",
                 appPath.c_str());
    exitCode_ = kExitFailed;
    return FALSE;
  }
  // Every file a run writes or replaces (Config.dat, the client, UPDATE/,
  // UPDATE.kept/, the log) would belong to the caller; a run by root would
  // leave a per-user installation that its own user can no longer update.
  if (std::string owner, caller; !RunsAsOwnerOf(appPath, owner, caller)) {
    std::fprintf(stderr,
                 "ZOLTUpdate: %s belongs to %s, but this run is %s; the files it wrote would belong to %s and later "
                 "runs by the owner could not replace them. Run it as the owner (for example: runuser -u <owner> -- "
                 "%sZOLTUpdate ...); nothing was done\n",
                 appPath.c_str(), owner.c_str(), caller.c_str(), caller.c_str(), appPath.c_str());
    exitCode_ = kExitFailed;
    return FALSE;
  }
  const StartupOptions options = ParseCommandLine(arguments_);
  confirmed_.clear();
  const int result = Run(options);
  // A declined or cancelled update leaves nothing installed, as a failure does.
  exitCode_ = result == kUiDeclined || result == kUiCancelled ? kExitFailed
              : result == kRolledBackResult                   ? kExitRolledBack
                                                              : result;
  if (exitCode_ != kExitOtherInstance) {
    diagnostics::SummariseRepeated();
    std::string outcome = options.rollback && exitCode_ == kExitOk ? "rolled back by hand" : Outcome(result);
    if (!confirmed_.empty()) outcome += "; " + confirmed_;
    diagnostics::LogFact("outcome: exit " + std::to_string(exitCode_) + ", " + outcome);
    // --status and --check only read: the last run stays the last update run.
    if (!options.status && options.mode != RunMode::Check) WriteLastRun(appPath, exitCode_, outcome);
    diagnostics::ReleaseFacts();
  }
  diagnostics::CloseRunLog();
  return FALSE;
}

int CUpdateApp::Run(const StartupOptions& options) {
  std::string appPath;
  CDirectoryEx::GetApplicationPath(appPath);
  instanceMutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (instanceMutex != nullptr) ReleaseMutex(instanceMutex);
    // The log belongs to the instance that holds the lock: two writers could
    // rotate it at once and lose its older half. The lock is the user's, not
    // the installation's: the holder may be another installation's updater,
    // so it is named.
    const std::string holder = MutexHolderNote(kInstanceMutexName);
    const std::string line = "ZOLTUpdate: another instance is running; this one ends" +
                             (holder.empty() ? std::string() : " (held by " + holder + ")") + "\n";
    std::fputs(line.c_str(), stderr);
    return kExitOtherInstance;
  }
  // Any other failure to create the mutex leaves the run unguarded, which is
  // better than no update at all.
  if (instanceMutex != nullptr)
    NoteMutexHolder(kInstanceMutexName, "process " + std::to_string(diagnostics::ProcessId()) + ", the updater in " +
                                            NativePath(appPath) + ", " + Describe(options));
  diagnostics::OpenRunLog(appPath);
  diagnostics::HoldFacts();
  diagnostics::LogFact("ZOLTUpdate " + std::string(ZOLT_VERSION) + " started: " + Describe(options));

  for (const std::string& argument : ignoredArguments_)
    diagnostics::LogFact("ignored the argument \"" + argument + "\"");

  if (UsesModuleName(options)) {
    if (const std::string problem = ComponentNameProblem(options.moduleName); !problem.empty()) {
      diagnostics::ReportCause("refusing the directory name: " + problem);
      return kExitRefusedName;
    }
  }

  if (options.status) return RunStatusCommand(appPath);
  if (options.rollback) return RunRollbackCommand(appPath);

  // A trial or rollback that an earlier run left is finished before anything
  // else. A rollback that cannot be finished ends the run: an install now
  // would give up the kept copies it still needs.
  const bool program =
      options.mode == RunMode::SilentProgram || (options.mode == RunMode::Interactive && options.updateType == 1);
  const int pending = program ? FinishProgramTrial(appPath, true, confirmed_) : -1;
  if (pending == kExitFailed) return kExitFailed;

  int result = kExitFailed;
  switch (options.mode) {
    case RunMode::Interactive:
      // The dialog's module writes its own lines while it runs: what this
      // run has said so far goes first.
      diagnostics::ReleaseFacts();
      result = RunInteractiveMode(options.updateType, options.moduleName);
      break;
    case RunMode::SilentProgram:
      result = RunSilentProgramMode();
      break;
    case RunMode::SilentComponent:
      result = RunSilentComponentMode(options.updateType, options.moduleName);
      break;
    case RunMode::Check:
      return RunCheckMode(options.updateType, options.moduleName);
  }
  // The process stays for the trial of what the mode installed, after the
  // dialog has closed or the silent run is done.
  if (program)
    if (const int trial = FinishProgramTrial(appPath, false, confirmed_); trial > 0)
      return trial == kExitRolledBack ? kRolledBackResult : trial;
  if (pending == kExitRolledBack && result == kExitOk) return kRolledBackResult;
  return result;
}
