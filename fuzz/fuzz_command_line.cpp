// The command line: any arguments give a mode, a type and a directory name
// within their limits; a name the updater accepts as a component folder stays
// one folder below the application directory.
#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "fuzz/Check.h"
#include "update/UpdateManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> arguments;
  while (input.remaining_bytes() > 0 && arguments.size() < 16)
    arguments.push_back(input.ConsumeRandomLengthString(300));

  const StartupOptions options = ParseCommandLine(arguments);
  FUZZ_CHECK(options.moduleName.size() <= 260);
  if (options.mode == RunMode::SilentProgram) FUZZ_CHECK(options.updateType == 1 && options.moduleName == "Program");
  if (options.mode == RunMode::SilentComponent) FUZZ_CHECK(options.updateType != 1);
  FUZZ_CHECK(UsesModuleName(options) == (options.updateType != 1 && options.mode != RunMode::SilentProgram));

  // What the silent component run accepts as its folder.
  const std::string& name = options.moduleName;
  if (ComponentNameProblem(name).empty()) {
    const std::filesystem::path app = "/app/";
    const std::string folder = (app / name).lexically_normal().string();
    FUZZ_CHECK(folder.compare(0, app.string().size() - 1, "/app") == 0);
    FUZZ_CHECK(name.empty() || folder == "/app/" + name);
  }
  return 0;
}
