#include "silent/SilentUpdate.h"

#include <utility>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "update/ServerConfig.h"
#include "update/ServerWait.h"

namespace {

// The longest name a Linux file system gives one folder (NAME_MAX).
constexpr size_t kMaximumFolderName = 255;

// The notification window is wanted for a region change, or for a newer version
// whose manifest asks for it.
bool WantsNotification(const std::string& newVersion, const std::string& localVersion, const std::string& region,
                       const std::string& manifestRegion, int notify) {
  const bool versionIsNewer = IsVersionGreater(newVersion, localVersion);
  const bool regionDiffers = region != manifestRegion;
  if (!versionIsNewer && !regionDiffers) return false;
  if (notify != 0) return true;
  return regionDiffers;
}

}  // namespace

CSilentUpdate::CSilentUpdate(int type, const std::string& name) : updateType(type), moduleName(name) {
  std::vector<S_UpdateSerivceAddr> servers;
  bool useProxy = false;
  ReadServerConfig(localVersion, region, servers, useProxy);
  transfer = new CZOLTUpdateIntf(servers, useProxy);

  CDirectoryEx::GetApplicationPath(appPath);
  UpdateFolders folders = FoldersOfType(appPath, updateType, moduleName);
  installDir = std::move(folders.installDir);
  stagingDir = std::move(folders.stagingDir);
  manifestName = updateType == 1 ? "UpdateConfig.ini" : "config.ini";
}

CSilentUpdate::~CSilentUpdate() { delete transfer; }

bool CSilentUpdate::ServerAskedToWait() {
  const std::int64_t until = KeptServerWait(appPath);
  if (until == 0) return false;
  diagnostics::LogFact("the update server asked to be left alone until " + FormatWaitEnd(until) +
                       " (Retry-After, kept in UPDATE.kept/retry-after); this run makes no request");
  diagnostics::NoteUpToDate();
  return true;
}

bool CSilentUpdate::Finish(bool succeeded) {
  if (const std::int64_t until = transfer->RetryAfter(); until != 0) {
    KeepServerWait(appPath, until);
    diagnostics::LogFact("silent runs make no request until " + FormatWaitEnd(until) + ", as the server asked");
  }
  return succeeded;
}

void CSilentUpdate::CapDownloadRate() {
  // The silent runs are the updater's own idea: they share the line with the
  // user. The dialog is the user's request and is not capped.
  CCryptConfigFile config(appPath + "Config.dat", "");
  const int kibps = config.ReadInteger("Update", "MaxKiBps", 0);
  if (kibps <= 0) return;
  transfer->SetMaxReceiveRate(static_cast<std::uint64_t>(kibps) * 1024);
  diagnostics::LogFact("downloads capped at " + std::to_string(kibps) + " KiB/s (Config.dat [Update] MaxKiBps)");
}

void CSilentUpdate::SetNotifier(NotifyFunction notifier) { notifier_ = std::move(notifier); }

UpdatePlace CSilentUpdate::Place() const {
  UpdatePlace place = PlaceOf(*this);
  place.component = updateType != 1;
  return place;
}

bool CSilentUpdate::RunProgramUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  if (ServerAskedToWait()) return true;
  CapDownloadRate();
  CUpdateSession session(Place(), *transfer);
  if (!session.Prepare() || !session.FetchManifest()) return Finish(false);

  bool staged = false;
  const CUpdateSession::Comparison compared = session.CompareAndStage(staged);
  const ReleaseHeader& release = session.Release();
  bool succeeded = compared != CUpdateSession::Comparison::kRejected;
  if (succeeded && !session.Files().empty()) {
    if (staged) {
      // Config.dat is written only now that the files are in place and on
      // disk: it is the commit point, written last.
      succeeded = session.Install() && session.Commit();
      // The window offers the new version: only once it is committed.
      if (succeeded && WantsNotification(release.version, localVersion, region, release.region, release.notify)) {
        NotifyRequest request{localVersion, release.version, ""};
        CCryptConfigFile config(appPath + "Config.dat", "");
        config.ReadString("Server", "WebSiteURL", "", request.webSiteUrl);
        const int answer = notifier_ ? notifier_(request) : 7;
        if (answer == 6) CloseRunningClient();
      }
      StartClient(appPath, 5000);
    } else {
      succeeded = false;
    }
  } else if (succeeded && session.WantsCompletion()) {
    succeeded = session.CompleteInterrupted();
  }
  session.LeaveStaging(succeeded);
  return Finish(succeeded);
}

bool CSilentUpdate::RunComponentUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  // An empty name is allowed: the component is then the application directory
  // itself. Any other name must be one plain folder name below it.
  if (!moduleName.empty() &&
      (!IsSafeRelativeName(moduleName) || moduleName.find_first_of("\\/") != std::string::npos)) {
    diagnostics::ReportCause("\"" + moduleName + "\" is not a component directory name");
    return false;
  }
  // A longer name cannot be a folder: the staging folder could not be made and
  // the run would fail as if the server had nothing.
  if (moduleName.size() > kMaximumFolderName) {
    diagnostics::ReportCause("the directory name \"" + moduleName.substr(0, 40) + "...\" is too long (" +
                             std::to_string(moduleName.size()) + " bytes; a folder name has at most " +
                             std::to_string(kMaximumFolderName) + ")");
    return false;
  }
  if (ServerAskedToWait()) return true;
  CapDownloadRate();
  CUpdateSession session(Place(), *transfer);
  if (!session.Prepare() || !session.FetchManifest()) return Finish(false);
  bool staged = false;
  const bool succeeded = session.CompareAndStage(staged) == CUpdateSession::Comparison::kCompared && staged &&
                         session.Install() && session.Commit();
  session.LeaveStaging(succeeded);
  return Finish(succeeded);
}
