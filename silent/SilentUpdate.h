// The silent program update and the silent component update.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "transfer/DeltaFetch.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

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
  // Lists the manifest's files that differ from the installed copies. False
  // (and nothing listed) when a section names a file outside the component.
  bool CompareComponentConfig(std::vector<UpdateFileInfo>& files);
  // The first steps both runs share: leftovers removed, staging checked,
  // manifest fetched. False when the run cannot go on.
  bool PrepareRun();
  // Fetches the files whose staged copy is missing or stale, then checks every
  // staged copy against its digest. False when the files are not all there.
  bool StageFiles(const std::vector<UpdateFileInfo>& files);
  void RemoveStaging();
  // Writes the record, the registry and, last, Config.dat's version.
  void RecordInstalledVersion(const std::string& newVersion);
  // Says on stderr why a fetched manifest was not acted on.
  void ExplainRejectedManifest(CConfigFile& manifest);

  NotifyFunction notifier_;
  CReleaseTrust trust_;  // of the run under way
  TransferTally tally_;  // what staging moved
};
