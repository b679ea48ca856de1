#include "app/RunModes.h"

#include <cstdio>

#include "app/RunState.h"
#include "app/UiLoader.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"
#include "silent/SilentUpdate.h"
#include "update/Trial.h"

int RunInteractiveMode(int updateType, const std::string& moduleName) {
#ifdef ZOLT_WITH_GUI
  return RunUpdateDialogFromModule(updateType, moduleName);
#else
  (void)updateType;
  (void)moduleName;
#ifdef _WIN32
  // Not a bad command line: the same command works where the dialogs exist.
  // It fails as a run without a display does.
  std::fprintf(stderr, "ZOLTUpdate: built without the dialogs (ZOLT_GUI=OFF), so the interactive mode cannot run; "
                       "run it with -silent\n");
  return 1;
#else
  std::fprintf(stderr, "ZOLTUpdate: built without the dialogs (ZOLT_GUI=OFF); run it with -silent\n");
  return 2;
#endif
#endif
}

// The silent runs explain a failure on stderr themselves; the exit status only
// says whether the run got past fetching its manifest.
int RunSilentProgramMode() {
  CSilentUpdate update(1, "Program");
#ifdef ZOLT_WITH_GUI
  update.SetNotifier(NotifierFromModule());
#endif
  return update.RunProgramUpdate() ? 0 : 1;
}

int RunSilentComponentMode(int updateType, const std::string& moduleName) {
  CSilentUpdate update(updateType, moduleName);
  return update.RunComponentUpdate() ? 0 : 1;
}

int FinishProgramTrial(const std::string& appPath, bool resumed, std::string& confirmed) {
  std::string version;
  switch (FinishPendingTrial(appPath, resumed, &version)) {
    case ETrialOutcome::kNothing:
    case ETrialOutcome::kOpen:
      return -1;
    case ETrialOutcome::kConfirmed:
      confirmed = ConfirmedText(version);
      return 0;
    case ETrialOutcome::kRolledBack:
      return 4;
    case ETrialOutcome::kFailed:
      return 1;
  }
  return 1;
}

int RunRollbackCommand(const std::string& appPath) {
  std::string refusal;
  switch (RollBackByHand(appPath, refusal)) {
    case ETrialOutcome::kRolledBack:
    case ETrialOutcome::kConfirmed:
      return 0;
    case ETrialOutcome::kFailed:
      return 1;
    case ETrialOutcome::kNothing:
    case ETrialOutcome::kOpen:
      break;
  }
  diagnostics::ReportCause("--rollback: " + refusal);
  return 2;
}

int RunStatusCommand(const std::string& appPath) {
  if (!PathFileExistsA((appPath + "Config.dat").c_str())) {
    diagnostics::ReportCause("--status: no installation here: " + NativePath(appPath + "Config.dat") + " is missing");
    return 2;
  }
  std::fputs(StatusJson(appPath).c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

int RunCheckMode(int updateType, const std::string& moduleName) {
  CSilentUpdate update(updateType, updateType == 1 ? "Program" : moduleName);
  const UpdateCheck check = update.Check();
  const std::string what = updateType == 1 ? "version \"" + check.version + "\" (region \"" + check.region + "\")"
                                           : "component \"" + moduleName + "\"";
  switch (check.outcome) {
    case UpdateCheck::Outcome::kFailed:
      return 1;
    case UpdateCheck::Outcome::kCurrent:
      if (updateType == 1)
        std::printf("up to date: installed version \"%s\" (region \"%s\")\n", update.localVersion.c_str(),
                    update.region.c_str());
      else
        std::printf("up to date: %s\n", what.c_str());
      return 0;
    case UpdateCheck::Outcome::kAvailable:
      if (check.completes)
        std::printf("update available: %s is in place but not recorded; a run would record it\n", what.c_str());
      else
        std::printf("update available: %s%s: %zu file%s to install, %llu bytes\n", what.c_str(),
                    updateType == 1 ? (", installed \"" + update.localVersion + "\"").c_str() : "", check.files,
                    check.files == 1 ? "" : "s", static_cast<unsigned long long>(check.bytes));
      return 10;
  }
  return 1;
}
