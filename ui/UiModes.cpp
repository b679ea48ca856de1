#include "ui/UiModes.h"

#include <cstdio>

#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/visual/VisualApp.h"
#include "ui/DlgNotify.h"
#include "ui/DlgUpdate.h"
#include "ui/UiModule.h"

namespace {

// How a dialog that has ended leaves the installation. Closing it (关闭, the
// title's close button, Escape) with an update on offer declines the update;
// closing it during the download cancels it. Neither is a failure, but
// nothing is installed, which the exit status says.
int Outcome(const CDlgUpdate& dialog) {
  if (dialog.exitStatus != 0) return dialog.exitStatus;
  const bool installed =
      !dialog.downloadList.empty() && static_cast<std::size_t>(dialog.finishedCount) == dialog.downloadList.size();
  if (installed || dialog.updateFiles.empty()) return 0;
  if (dialog.downloadThread != nullptr) {
    diagnostics::LogFact("cancelled: the user closed the dialog during the download (" +
                         std::to_string(dialog.finishedCount) + " of " + std::to_string(dialog.downloadList.size()) +
                         " files in); nothing was installed, and what arrived is kept for the next run");
    return kUiCancelled;
  }
  diagnostics::LogFact("declined: the user closed the dialog without installing version " +
                       dialog.versionText.GetWindowText());
  return kUiDeclined;
}

}  // namespace

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
  const int outcome = Outcome(dialog);
  diagnostics::SummariseRepeated();
  return outcome;
}

int ShowUpdateNotification(const NotifyRequest& request) {
  std::string why;
  if (!IsDisplayAvailable(why)) return 7;
  CVisualApp app;
  CDlgNotify dialog;
  dialog.currentVersion = request.currentVersion;
  dialog.newVersion = request.newVersion;
  dialog.webSiteUrl = request.webSiteUrl;
  dialog.timeLimitMs = request.timeLimitSeconds * 1000;
  const INT_PTR result = dialog.DoModal();
  // The run that asked logs it: this module keeps no log of its own.
  if (dialog.timedOut) return kNotifyTimedOut;
  return result == 6 ? 6 : 7;
}

NotifyFunction NotificationWindowNotifier() {
  std::string why;
  if (!IsDisplayAvailable(why)) return {};
  return ShowUpdateNotification;
}
