#include "app/UiLoader.h"

#include <cstdio>

#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Runtime.h"
#include "ui/UiModule.h"

namespace {

// The module stays loaded until the process ends: Qt does not support being
// unloaded and loaded again.
void* LoadModule(std::string& why) {
  static void* handle = nullptr;
  static std::string error;
  if (handle == nullptr && error.empty()) {
    std::string path;
    CDirectoryEx::GetApplicationPath(path);
    path += kUiModuleName;
    handle = crt::LoadProgramModule(path, error);
  }
  why = error;
  return handle;
}

template <class Function>
Function Lookup(const char* name, std::string& why) {
  void* module = LoadModule(why);
  if (module == nullptr) return nullptr;
  auto* symbol = reinterpret_cast<Function>(crt::ProgramModuleFunction(module, name));
  if (symbol == nullptr) why = std::string(name) + " missing in " + kUiModuleName;
  return symbol;
}

}  // namespace

int RunUpdateDialogFromModule(int updateType, const std::string& moduleName) {
  std::string why;
  auto run = Lookup<ZoltUiRunUpdateDialogFunction>("ZoltUiRunUpdateDialog", why);
  if (run == nullptr) {
    diagnostics::ReportCause("the update dialog is not available (" + why + ")");
    return 2;
  }
  return run(updateType, moduleName.c_str());
}

NotifyFunction NotifierFromModule() {
  return [](const NotifyRequest& request) {
    std::string why;
    auto show = Lookup<ZoltUiShowNotificationFunction>("ZoltUiShowNotification", why);
    if (show == nullptr) return 7;
    return show(request.currentVersion.c_str(), request.newVersion.c_str(), request.webSiteUrl.c_str(),
                request.timeLimitSeconds);
  };
}
