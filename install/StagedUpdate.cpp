#include "install/StagedUpdate.h"

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateRecord.h"

bool StagedFilesMatchManifest(const std::vector<UpdateFileInfo>& files, const std::string& stagingDir, bool sha256,
                              std::string* cause) {
  CMD5 hasher;
  for (const auto& file : files)
    if (!StagedCopyMatches(hasher, file, stagingDir, sha256, cause)) return false;
  return true;
}

static std::string StagedManifestVersion(const std::string& stagingDir) {
  CConfigFile manifest(stagingDir + "UpdateConfig.ini");
  std::string version;
  manifest.ReadString("Version", "VERSION", "", version);
  return version;
}

bool InstallStagedUpdate(const StagedUpdate& update, const std::vector<UpdateFileInfo>& files) {
  const bool installed = ReplaceInstalledFiles(files, update.stagingDir, update.installDir);
  const std::string newVersion = StagedManifestVersion(update.stagingDir);
  WriteUpdateRecord(update.appPath, "%Y-%m-%d %H:%M:%S", newVersion, update.localVersion, installed);
  if (installed) {
    if (update.updateType == 1) {
      WriteInstalledVersion(update.appPath, newVersion);
      // Config.dat's version is the commit point, written after the other
      // stores, so a run stopped before it is completed by the next one.
      if (IsVersionGreater(newVersion, update.localVersion)) {
        CCryptConfigFile config(update.appPath + "Config.dat", "");
        config.WriteString("Update", "Version", newVersion);
      }
    } else {
      CopyFileA((update.stagingDir + "config.ini").c_str(), (update.appPath + "config.ini").c_str(), FALSE);
    }
  }
  if (installed) CDirectoryEx::DeleteDirectory(update.stagingDir);
  return installed;
}
