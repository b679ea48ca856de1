#include "app/RunModes.h"

#include <cstdio>

#include "app/UiLoader.h"
#include "silent/SilentUpdate.h"

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
