#include "ui/UiModes.h"

#include <cstdio>

#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/visual/VisualApp.h"
#include "ui/DlgNotify.h"
#include "ui/DlgUpdate.h"

int RunUpdateDialog(int updateType, const std::string& moduleName) {
  // The module has its own copy of the core, and with it its own run log
  // switch: the dialog's causes and facts go to the same file.
  std::string appPath;
  CDirectoryEx::GetApplicationPath(appPath);
  diagnostics::OpenRunLog(appPath);
  std::string why;
  if (!IsDisplayAvailable(why)) {
    diagnostics::ReportCause("cannot show the update dialog: " + why);
    return 1;
  }
  CVisualApp app;
  CDlgUpdate dialog;
  dialog.updateType = updateType;
  dialog.moduleName = moduleName;
  dialog.DoModal();
  diagnostics::SummariseRepeated();
  return dialog.exitStatus;
}

int ShowUpdateNotification(const NotifyRequest& request) {
  std::string why;
  if (!IsDisplayAvailable(why)) return 7;
  CVisualApp app;
  CDlgNotify dialog;
  dialog.currentVersion = request.currentVersion;
  dialog.newVersion = request.newVersion;
  dialog.webSiteUrl = request.webSiteUrl;
  const INT_PTR result = dialog.DoModal();
  return result == 6 ? 6 : 7;
}

NotifyFunction NotificationWindowNotifier() {
  std::string why;
  if (!IsDisplayAvailable(why)) return {};
  return ShowUpdateNotification;
}
