#include "app/RunModes.h"

#include <cstdio>

#include "silent/SilentUpdate.h"

namespace {
int NotBuilt(const char* mode) {
  std::fprintf(stderr, "ZOLTUpdate: %s is not built yet\n", mode);
  return 3;
}
}  // namespace

int RunInteractiveMode(int, const std::string&) { return NotBuilt("the interactive update"); }

// The silent runs explain a failure on stderr themselves; the exit status only
// says whether the run got past fetching its manifest.
int RunSilentProgramMode() {
  CSilentUpdate update(1, "Program");
  return update.RunProgramUpdate() ? 0 : 1;
}

int RunSilentComponentMode(int updateType, const std::string& moduleName) {
  CSilentUpdate update(updateType, moduleName);
  return update.RunComponentUpdate() ? 0 : 1;
}
