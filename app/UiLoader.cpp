#include "app/UiLoader.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>

#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
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
#if defined(_WIN32)
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    handle = LoadLibraryW(wide.c_str());
    if (handle == nullptr) error = path + ": error " + std::to_string(GetLastError());
#else
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error = ::dlerror();
#endif
  }
  why = error;
  return handle;
}

template <class Function>
Function Lookup(const char* name, std::string& why) {
  void* module = LoadModule(why);
  if (module == nullptr) return nullptr;
#if defined(_WIN32)
  auto* symbol = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)));
#else
  auto* symbol = reinterpret_cast<Function>(::dlsym(module, name));
#endif
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
    return show(request.currentVersion.c_str(), request.newVersion.c_str(), request.webSiteUrl.c_str());
  };
}
