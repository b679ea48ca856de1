// The dialogs as a module that start-up loads only when it shows one, so the
// silent runs never pay for loading Qt. The entry points use plain C types:
// the module carries its own copy of the core, and only texts and numbers
// cross the boundary.
#include "ui/UiModule.h"

#include "ui/UiModes.h"

extern "C" {

ZOLT_UI_EXPORT int ZoltUiRunUpdateDialog(int updateType, const char* moduleName) {
  return RunUpdateDialog(updateType, moduleName != nullptr ? moduleName : "");
}

ZOLT_UI_EXPORT int ZoltUiShowNotification(const char* currentVersion, const char* newVersion, const char* webSiteUrl,
                                          int timeLimitSeconds) {
  NotifyRequest request;
  request.currentVersion = currentVersion != nullptr ? currentVersion : "";
  request.newVersion = newVersion != nullptr ? newVersion : "";
  request.webSiteUrl = webSiteUrl != nullptr ? webSiteUrl : "";
  request.timeLimitSeconds = timeLimitSeconds;
  return ShowUpdateNotification(request);
}

}  // extern "C"
