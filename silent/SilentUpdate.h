// The silent program update and the silent component update.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "update/UpdateSession.h"

// What the notification window shows; the answer is 6 (upgrade now) or 7 (later).
struct NotifyRequest {
  std::string currentVersion;
  std::string newVersion;
  std::string webSiteUrl;
};
using NotifyFunction = std::function<int(const NotifyRequest&)>;

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

  NotifyFunction notifier_;
};
