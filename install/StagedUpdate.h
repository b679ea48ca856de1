// Installing what the update dialog has staged, and the records that follow.
// No window is involved: the dialog shows the outcome.
#pragma once

#include <string>
#include <vector>

#include "update/UpdateManifest.h"

// True when the staged copy of every file (stagingDir + fileName) has the
// manifest's MD5, and with sha256 also its SHA256; a missing or unreadable copy
// does not. cause (if given) names the first copy that does not match.
bool StagedFilesMatchManifest(const std::vector<UpdateFileInfo>& files, const std::string& stagingDir,
                              bool sha256 = false, std::string* cause = nullptr);

struct StagedUpdate {
  int updateType = 1;
  std::string appPath;
  std::string installDir;
  std::string stagingDir;
  std::string localVersion;
};

// Copies the staged files over the installation, then writes the stores:
// type 1 writes the staged manifest's version to "Config.dat" (when it is
// greater than localVersion) and to the registry; other types copy the staged
// "config.ini" to appPath. Both only when every file was installed, so the
// stores never claim a version that is not in place. The record in
// "UpdateRecord.dat" (section named by local date and time) says whether every
// file was installed. The staging folder is removed after a full installation
// and kept otherwise, so the next run reuses what it holds. Returns true when
// every file was installed.
bool InstallStagedUpdate(const StagedUpdate& update, const std::vector<UpdateFileInfo>& files);
