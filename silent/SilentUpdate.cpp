#include "silent/SilentUpdate.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/network/NetworkCost.h"
#include "platform/win32/Files.h"
#include "update/ServerConfig.h"
#include "update/ServerWait.h"

namespace {

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

// [Update] NotifySeconds: 0 for no limit; a negative or unreadable value, or
// one above a day, keeps the default, so a typo never makes the run wait for
// ever.
int NotifySeconds(CCryptConfigFile& config) {
  constexpr int kUnset = -1;
  constexpr int kLongest = 86400;
  const int seconds = config.ReadInteger("Update", "NotifySeconds", kUnset);
  if (seconds < 0 || seconds > kLongest) return kDefaultNotifySeconds;
  return seconds;
}

// The bytes of the changed files as their manifest SIZE gives them.
std::uint64_t ListedBytes(const CChangedFiles& files) {
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < files.size(); ++i) bytes += std::strtoull(files[i].size.c_str(), nullptr, 10);
  return bytes;
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

bool CSilentUpdate::DownloadsDeferred() {
  CCryptConfigFile config(appPath + "Config.dat", "");
  std::string policy;
  config.ReadString("Update", "OnMetered", "defer", policy);
  for (char& c : policy) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (policy == "allow") return false;
  std::string detail;
  if (CurrentNetworkCost(detail) != NetworkCost::kMetered) return false;
  diagnostics::LogFact("the connection is metered (" + detail + ")");
  return true;
}

bool CSilentUpdate::CompareDeferred(CUpdateSession& session) {
  const CUpdateSession::Comparison compared = session.Compare();
  if (compared == CUpdateSession::Comparison::kRejected) return false;
  if (const CChangedFiles& files = session.Files(); !files.empty()) {
    diagnostics::LogFact("deferred: " + std::to_string(files.size()) + (files.size() == 1 ? " file (" : " files (") +
                         std::to_string(ListedBytes(files)) +
                         " bytes) left to download on a connection that is not metered; Config.dat [Update] "
                         "OnMetered=allow fetches them anyway");
    return true;
  }
  // Files already in place need no download: their commit is not deferred.
  if (compared == CUpdateSession::Comparison::kCompared && session.WantsCompletion())
    return session.CompleteInterrupted();
  return true;
}

bool CSilentUpdate::RunProgramUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  if (ServerAskedToWait()) return true;
  CapDownloadRate();
  CUpdateSession session(Place(), *transfer);
  if (!session.Prepare() || !session.FetchManifest()) return Finish(false);
  if (DownloadsDeferred()) {
    const bool succeeded = CompareDeferred(session);
    session.LeaveStaging(succeeded);
    return Finish(succeeded);
  }

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
        request.timeLimitSeconds = NotifySeconds(config);
        const int answer = notifier_ ? notifier_(request) : 7;
        if (answer == kNotifyTimedOut)
          diagnostics::LogFact("the notification window was not answered within " +
                               std::to_string(request.timeLimitSeconds) + " s; taken as \"下次升级\"");
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
  if (const std::string problem = ComponentNameProblem(moduleName); !problem.empty()) {
    diagnostics::ReportCause(problem);
    return false;
  }
  if (ServerAskedToWait()) return true;
  CapDownloadRate();
  CUpdateSession session(Place(), *transfer);
  if (!session.Prepare() || !session.FetchManifest()) return Finish(false);
  if (DownloadsDeferred()) {
    const bool succeeded = CompareDeferred(session);
    session.LeaveStaging(succeeded);
    return Finish(succeeded);
  }
  bool staged = false;
  const bool succeeded = session.CompareAndStage(staged) == CUpdateSession::Comparison::kCompared && staged &&
                         session.Install() && session.Commit();
  session.LeaveStaging(succeeded);
  return Finish(succeeded);
}

UpdateCheck CSilentUpdate::Check() {
  CDirectoryEx::GetApplicationPath(appPath);
  UpdateCheck result;
  if (updateType != 1) {
    if (const std::string problem = ComponentNameProblem(moduleName); !problem.empty()) {
      diagnostics::ReportCause(problem);
      return result;
    }
  }
  UpdatePlace place = Place();
  place.readOnly = true;
  place.stagingDir = MakeScratchFolder();
  if (place.stagingDir.empty()) {
    diagnostics::ReportCause("cannot make a scratch folder for the manifest: " + diagnostics::ErrorText(errno));
    return result;
  }
  {
    CUpdateSession session(place, *transfer);
    if (session.Prepare() && session.FetchManifest()) {
      const CUpdateSession::Comparison compared = session.Compare();
      if (compared != CUpdateSession::Comparison::kRejected) {
        result.version = session.Release().version;
        result.region = session.Release().region;
        result.files = session.Files().size();
        result.bytes = ListedBytes(session.Files());
        result.completes = result.files == 0 && session.WantsCompletion();
        result.outcome =
            result.files != 0 || result.completes ? UpdateCheck::Outcome::kAvailable : UpdateCheck::Outcome::kCurrent;
      }
    }
  }
  RemoveDirectoryTree(place.stagingDir.c_str());
  return result;
}
