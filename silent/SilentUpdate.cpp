#include "silent/SilentUpdate.h"

#include <utility>

#include "install/Installation.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "transfer/DeltaFetch.h"
#include "transfer/DownloadFileList.h"
#include "transfer/KeptManifest.h"
#include "update/ServerConfig.h"
#include "update/UpdateRecord.h"

namespace {

// The longest name a Linux file system gives one folder (NAME_MAX).
constexpr size_t kMaximumFolderName = 255;

void Complain(const std::string& text) { diagnostics::ReportCause(text); }

// "3 files: a, b, c" for the log; a long list is cut after its first names.
std::string ListForLog(const std::vector<UpdateFileInfo>& files) {
  constexpr std::size_t kShown = 20;
  std::string text = std::to_string(files.size()) + (files.size() == 1 ? " file: " : " files: ");
  for (std::size_t i = 0; i < files.size() && i < kShown; ++i) text += (i == 0 ? "" : ", ") + files[i].fileName;
  if (files.size() > kShown) text += " and " + std::to_string(files.size() - kShown) + " more";
  return text;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Deletes what earlier runs left: backups of files that could not be
// overwritten, and temporary files of writes cut short by a killed process.
// The search never follows a symbolic link out of the application directory.
void RemoveLeftovers(const std::string& appPath) {
  for (const char* pattern : {"*.bak", kTempFilePattern}) {
    std::vector<std::string> found;
    CDirectoryEx::SearchFile(appPath, true, pattern, found);
    for (const auto& path : found) DeleteFileA(path.c_str());
  }
}

// True when no folder of directory below appPath is a symbolic link, so that
// writing into it or removing it stays inside the application directory.
// Folders that do not exist yet are fine: they will be created as folders.
bool StaysInside(const std::string& appPath, const std::string& directory) {
  const std::string base = NativePath(appPath);
  const std::string path = NativePath(directory);
  if (path.compare(0, base.size(), base) != 0) return false;
  for (size_t end = base.size(); end < path.size(); ++end) {
    end = path.find('/', end);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(0, end);
    if (PathIsSymbolicLinkA(folder.c_str())) {
      Complain(folder + " is a symbolic link; not following it out of the application directory");
      return false;
    }
  }
  return true;
}

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
  stagingDir = appPath;
  installDir = appPath;
  if (updateType == 1) {
    manifestName = "UpdateConfig.ini";
    stagingDir += "UPDATE\\Program\\";
  } else {
    manifestName = "config.ini";
    installDir += moduleName;
    installDir += "\\";
    stagingDir += "UPDATE\\";
    stagingDir += moduleName;
    stagingDir += "\\";
  }
}

CSilentUpdate::~CSilentUpdate() { delete transfer; }

void CSilentUpdate::SetNotifier(NotifyFunction notifier) { notifier_ = std::move(notifier); }

bool CSilentUpdate::PrepareRun() {
  // A key file that names no usable key must not quietly turn signed
  // releases off: nothing is updated until it is mended.
  trust_ = CReleaseTrust::Load(appPath);
  if (trust_.Required() && !trust_.Usable()) {
    Complain(trust_.Problem() + "; no update is made until it holds a usable key");
    return false;
  }
  RemoveLeftovers(appPath);
  if (!StaysInside(appPath, stagingDir)) return false;
  std::string cause;
  if (!DownloadManifest(*this, manifestName, trust_, cause)) {
    Complain(cause);
    return false;
  }
  return true;
}

bool CSilentUpdate::StageFiles(const std::vector<UpdateFileInfo>& files) {
  const bool sha256 = trust_.Required();
  CMD5 hasher;
  std::vector<std::string> downloads;
  std::vector<const UpdateFileInfo*> fetched;
  for (const auto& file : files) {
    if (StagedCopyMatches(hasher, file, stagingDir, sha256)) continue;
    downloads.push_back(file.fileName);
    fetched.push_back(&file);
  }
  LimitSizes(*transfer, ManifestSizeCaps(files));
  transfer->SetDigestKinds(sha256 ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  std::vector<FileDigests> digests;
  std::vector<std::string> missing;
  if (!DownloadChangedFiles(StagingSourceOf(*this, sha256), *transfer, fetched, &missing, &digests, &tally_)) {
    Complain("cannot fetch " + std::to_string(missing.size()) + " of the " + std::to_string(downloads.size()) +
             " changed files (" + JoinNames(missing) + "); nothing was installed");
    return false;
  }
  // A server can deliver a complete file that is not the published one (a
  // broken mirror, a proxy's error page); such a file must never be installed.
  // The digests were taken while the files were written, so this reads nothing.
  std::string cause;
  for (std::size_t i = 0; i < fetched.size(); ++i) {
    if (!DigestsMatch(*fetched[i], digests[i], sha256, &cause)) {
      Complain(cause + "; nothing was installed");
      return false;
    }
  }
  return true;
}

void CSilentUpdate::RemoveStaging() {
  if (StaysInside(appPath, stagingDir)) CDirectoryEx::DeleteDirectory(stagingDir);
}

// The three stores of a program update. Config.dat's version is the commit
// point and is written last: a run stopped before it leaves the old version
// there, so the next run sees the difference and writes all three again.
void CSilentUpdate::RecordInstalledVersion(const std::string& newVersion) {
  WriteUpdateRecord(appPath, "%Y-%m-%d", newVersion, localVersion, true);
  WriteInstalledVersion(appPath, newVersion);
  CCryptConfigFile config(appPath + "Config.dat", "");
  config.WriteString("Update", "Version", newVersion);
}

bool CSilentUpdate::RunProgramUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  if (!PrepareRun()) return false;

  // The header is read first and the manifest let go: a large manifest is
  // not held a second time beside the list the comparison builds.
  std::string newVersion, manifestRegion;
  int notify = 0;
  {
    CConfigFile manifest(stagingDir + manifestName);
    manifest.ReadString("Version", "VERSION", "", newVersion);
    manifest.ReadString("Version", "REGION", "", manifestRegion);
    notify = manifest.ReadInteger("Version", "NOTIFIY", 0);
  }
  std::vector<UpdateFileInfo> files;
  const int compared =
      CompareUpdateConfig(UpdateCheckInfo(installDir, stagingDir + manifestName, localVersion, region), files);

  diagnostics::LogFact("published version \"" + newVersion + "\", region \"" + manifestRegion + "\"; " +
                       (files.empty() ? "nothing to install" : "to install: " + ListForLog(files)));
  bool succeeded = compared != -1;
  if (!succeeded) {
    CConfigFile manifest(stagingDir + manifestName);
    ExplainRejectedManifest(manifest);
  }

  const bool versionIsNewer = IsVersionGreater(newVersion, localVersion);
  if (!files.empty() && !StageFiles(files)) succeeded = false;
  if (!files.empty() && succeeded) {
    // Config.dat is opened for writing only now that the files are in place,
    // and each write changes its own key in the file as it then is.
    const bool installed = ReplaceInstalledFiles(files, stagingDir, installDir);
    if (installed) {
      RecordInstalledVersion(newVersion);
      diagnostics::LogFact("installed version " + newVersion + ": " + ListForLog(files) + "; " + DescribeTally(tally_));
    } else {
      succeeded = false;
      Complain("not every file could be replaced; version " + localVersion + " stays recorded");
      WriteUpdateRecord(appPath, "%Y-%m-%d", newVersion, localVersion, false);
    }

    if (WantsNotification(newVersion, localVersion, region, manifestRegion, notify)) {
      NotifyRequest request{localVersion, newVersion, ""};
      CCryptConfigFile config(appPath + "Config.dat", "");
      config.ReadString("Server", "WebSiteURL", "", request.webSiteUrl);
      const int answer = notifier_ ? notifier_(request) : 7;
      if (answer == 6) CloseRunningClient();
    }
    StartClient(appPath, 5000);
  } else if (compared == 0 && files.empty() && !newVersion.empty() && newVersion != localVersion &&
             (versionIsNewer || manifestRegion != region)) {
    // Every file already matches a newer (or other-region) release whose
    // version is not recorded: an earlier run was stopped after replacing the
    // files but before its commit point. Finish its bookkeeping; nothing needs
    // to be restarted. An older release of the same region, which
    // UNCONDITIONALUPDATE makes compare, was never installed by anyone: it
    // must not be recorded as installed.
    RecordInstalledVersion(newVersion);
    diagnostics::LogFact("recorded version " + newVersion + ", whose files were all in place already");
  }

  RemoveStaging();
  return succeeded;
}

void CSilentUpdate::ExplainRejectedManifest(CConfigFile& manifest) {
  std::vector<std::string> names;
  manifest.ReadSection("FILES", names);
  for (const auto& name : names) {
    if (!IsSafeRelativeName(name)) {
      Complain(manifestName + " names \"" + name +
               "\", which lies outside the application directory; nothing was installed");
      return;
    }
  }
  Complain(manifestName + (names.empty() ? " lists no files; nothing was installed"
                                         : " lists no files, or names a file outside the application directory"));
}

bool CSilentUpdate::CompareComponentConfig(std::vector<UpdateFileInfo>& files) {
  CConfigFile manifest(stagingDir + manifestName);
  std::vector<std::string> sections;
  manifest.ReadSections(sections);
  // One unsafe name means the manifest cannot be trusted at all; installing the
  // rest of it would leave the component half updated.
  for (const auto& section : sections) {
    if (!IsSafeRelativeName(section)) {
      Complain(manifestName + " names \"" + section + "\", which lies outside " + moduleName +
               "; nothing was installed");
      return false;
    }
  }
  CompareManifestEntries(manifest, installDir, sections, files);
  return true;
}

bool CSilentUpdate::RunComponentUpdate() {
  CDirectoryEx::GetApplicationPath(appPath);
  // An empty name is allowed: the component is then the application directory
  // itself. Any other name must be one plain folder name below it.
  if (!moduleName.empty() &&
      (!IsSafeRelativeName(moduleName) || moduleName.find_first_of("\\/") != std::string::npos)) {
    Complain("\"" + moduleName + "\" is not a component directory name");
    return false;
  }
  // A longer name cannot be a folder: the staging folder could not be made and
  // the run would fail as if the server had nothing.
  if (moduleName.size() > kMaximumFolderName) {
    Complain("the directory name \"" + moduleName.substr(0, 40) + "...\" is too long (" +
             std::to_string(moduleName.size()) + " bytes; a folder name has at most " +
             std::to_string(kMaximumFolderName) + ")");
    return false;
  }
  if (!PrepareRun()) return false;

  std::vector<UpdateFileInfo> files;
  bool succeeded = CompareComponentConfig(files);
  diagnostics::LogFact("component \"" + moduleName +
                       "\": " + (files.empty() ? "nothing to install" : "to install: " + ListForLog(files)));
  if (succeeded && StageFiles(files)) {
    if (ReplaceInstalledFiles(files, stagingDir, installDir)) {
      CopyFileA((stagingDir + manifestName).c_str(), (installDir + manifestName).c_str(), FALSE);
      if (!files.empty())
        diagnostics::LogFact("installed into \"" + moduleName + "\": " + ListForLog(files) + "; " +
                             DescribeTally(tally_));
    } else {
      succeeded = false;
      Complain("not every file of " + moduleName + " could be replaced; its " + manifestName + " stays as it was");
    }
  } else {
    succeeded = false;
  }

  RemoveStaging();
  return succeeded;
}
