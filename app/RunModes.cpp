#include "app/RunModes.h"

#include <cstdio>

namespace {
int NotBuilt(const char* mode) {
  std::fprintf(stderr, "ZOLTUpdate: %s is not built yet\n", mode);
  return 3;
}
}  // namespace

int RunInteractiveMode(int, const std::string&) { return NotBuilt("the interactive update"); }

int RunSilentProgramMode() { return NotBuilt("the silent program update"); }

int RunSilentComponentMode(int, const std::string&) { return NotBuilt("the silent component update"); }
