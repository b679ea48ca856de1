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
  std::fprintf(stderr, "ZOLTUpdate: built without the dialogs (ZOLT_GUI=OFF); run it with -silent\n");
  return 2;
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
