// The silent program update and the silent component update.
#pragma once

#include <functional>
#include <string>

#include "platform/transfer/ZOLTUpdateIntf.h"

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
  // the component directory moduleName below it.
  CSilentUpdate(int type, const std::string& moduleName);
  ~CSilentUpdate();
  CSilentUpdate(const CSilentUpdate&) = delete;
  CSilentUpdate& operator=(const CSilentUpdate&) = delete;

  // Shows the notification window when the run wants one. Without a notifier
  // the answer is 7 at once.
  void SetNotifier(NotifyFunction notifier);

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
  void CompareComponentConfig(std::vector<struct UpdateFileInfo>& files);
  NotifyFunction notifier_;
};
