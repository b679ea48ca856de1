// The silent program update and the silent component update.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "update/UpdateSession.h"

// The longest the notification window waits for an answer, unless Config.dat
// [Update] NotifySeconds says otherwise.
inline constexpr int kDefaultNotifySeconds = 300;

// What the notification window shows; the answer is 6 (upgrade now), 7 (later)
// or kNotifyTimedOut, which counts as 7.
inline constexpr int kNotifyTimedOut = 8;
struct NotifyRequest {
  std::string currentVersion;
  std::string newVersion;
  std::string webSiteUrl;
  // After this long without an answer the window closes and the answer is 7:
  // the run holds the instance lock meanwhile, and a timer's unit would wait
  // for a click for ever. 0: no limit.
  int timeLimitSeconds = kDefaultNotifySeconds;
};
using NotifyFunction = std::function<int(const NotifyRequest&)>;

// What a silent run would do, found by CSilentUpdate::Check.
struct UpdateCheck {
  enum class Outcome {
    kFailed,     // no usable manifest (the cause has been reported)
    kCurrent,    // nothing to install (also: a staged release not yet for this installation)
    kAvailable,  // a run would install files, or record a release already in place
  };
  Outcome outcome = Outcome::kFailed;
  std::string version;      // the published version ("VERSION"); empty for a component
  std::string region;       // the published region ("REGION")
  std::size_t files = 0;    // files that differ from the release
  std::uint64_t bytes = 0;  // their sizes as the manifest gives them
  bool completes = false;   // every file is in place, but the version is not recorded
};

class CSilentUpdate {
 public:
  // Type 1: the program update of the application directory. Any other type:
  // the component directory moduleName below it. Reads the local configuration
  // and creates the transfer object.
  CSilentUpdate(int type, const std::string& moduleName);
  ~CSilentUpdate();
  CSilentUpdate(const CSilentUpdate&) = delete;
  CSilentUpdate& operator=(const CSilentUpdate&) = delete;

  // Shows the notification window when the run wants one. Without a notifier
  // the answer is 7 at once.
  void SetNotifier(NotifyFunction notifier);

  // Both runs return true when the installation is up to date or everything
  // was installed, false when a failure left nothing or not everything
  // installed: manifest not fetched or unusable, an installation holding
  // ZOLTUpdate.pub that no server gave a manifest verifying under it (or whose
  // file holds no usable key), a file missing or damaged on the servers, a
  // file that could not be replaced, an unsafe name. Every failure's cause
  // goes to stderr and the run log; success is quiet on stderr and logged.
  // Called on the start-up thread; they block until done (the program update
  // waits 5 s before it restarts the client).
  bool RunProgramUpdate();
  bool RunComponentUpdate();

  // What RunProgramUpdate (type 1) or RunComponentUpdate would install,
  // changing nothing: the manifest is fetched in full into a scratch folder
  // outside the installation, checked as a run checks it (signature, serial,
  // rollout) and compared with the installed files; no staging, no kept copy,
  // no digest cache, no store is written. The installation id is made when
  // there is none, as any run would make it.
  UpdateCheck Check();

  int updateType;
  std::string moduleName;
  CZOLTUpdateIntf* transfer = nullptr;
  std::string installDir;
  std::string stagingDir;
  std::string appPath;
  std::string manifestName;
  std::string localVersion;
  std::string region;

 private:
  // The place of this object's update, for the session that runs it.
  UpdatePlace Place() const;
  // A wait a server asked for earlier has not passed: logged, true.
  bool ServerAskedToWait();
  // Keeps a wait a server asked for in this run; returns succeeded.
  bool Finish(bool succeeded);
  // Config.dat [Update] MaxKiBps caps this run's downloads.
  void CapDownloadRate();
  // True when this run's downloads wait for another run: the connection is
  // metered and Config.dat [Update] OnMetered is not "allow". Logs why.
  bool DownloadsDeferred();
  // For a run whose downloads wait: compares without fetching, and logs what
  // waits. True unless the manifest was rejected or a completion that needs
  // no download failed.
  bool CompareDeferred(CUpdateSession& session);

  NotifyFunction notifier_;
};
