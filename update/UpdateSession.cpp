#include "update/UpdateSession.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "install/Installation.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadFileList.h"
#include "transfer/DownloadMeter.h"
#include "transfer/KeptManifest.h"
#include "update/Rollout.h"
#include "update/UpdateRecord.h"

namespace {

// Files are staged and checked this many at a time: the names, caps and
// digests of one batch are held, never those of a whole large release.
constexpr std::size_t kStageBatch = 1024;

// "3 files: a, b, c" for the log.
std::string ListForLog(const CChangedFiles& files) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files.size() && i < diagnostics::kShownPerKind; ++i) names.push_back(files[i].fileName);
  return std::to_string(files.size()) + (files.size() == 1 ? " file: " : " files: ") +
         diagnostics::NameList(names, files.size());
}

std::string Because(int error) { return diagnostics::ErrorText(error != 0 ? error : EIO); }

}  // namespace

CUpdateSession::CUpdateSession(UpdatePlace place, CZOLTUpdateIntf& transfer, IUpdateObserver* observer)
    : place_(std::move(place)), transfer_(transfer), observer_(observer) {}

bool CUpdateSession::Fail(const std::string& cause) {
  diagnostics::ReportCause(cause);
  if (observer_ != nullptr) observer_->OnFailure(cause);
  return false;
}

// Writing into staging, or removing it, must stay inside the application
// directory: no folder on the way may be a link. Folders that do not exist
// yet are fine, they will be created as folders. Names the first link found.
std::string CUpdateSession::LinkOnTheWayToStaging() const {
  const std::string base = NativePath(place_.appPath);
  const std::string path = NativePath(place_.stagingDir);
  if (path.compare(0, base.size(), base) != 0) return path;
  for (size_t end = base.size(); end < path.size(); ++end) {
    end = path.find('/', end);
    if (end == std::string::npos) end = path.size();
    if (PathIsSymbolicLinkA(path.substr(0, end).c_str())) return path.substr(0, end);
  }
  return "";
}

bool CUpdateSession::Prepare() {
  // A key file that names no usable key must not quietly turn signed
  // releases off: nothing is updated until it is mended.
  trust_ = CReleaseTrust::Load(place_.appPath);
  if (trust_.Required() && !trust_.Usable())
    return Fail(trust_.Problem() + "; no update is made until it holds a usable key");
  if (std::string cause; !InstallationWritable(place_.appPath, place_.stagingDir, cause)) return Fail(cause);
  // Backups of files that could not be overwritten, and temporary files of
  // writes cut short by a killed process. The search never follows a link
  // out of the application directory.
  for (const char* pattern : {"*.bak", kTempFilePattern}) {
    std::vector<std::string> found;
    CDirectoryEx::SearchFile(place_.appPath, true, pattern, found);
    for (const auto& path : found) DeleteFileA(path.c_str());
  }
  const std::string link = LinkOnTheWayToStaging();
  if (link.empty()) return true;
  return Fail(link + " is a symbolic link, or lies outside the application directory; not following it");
}

bool CUpdateSession::FetchManifest() {
  std::string cause, bytes;
  if (!::FetchManifest(place_.appPath, place_.stagingDir, place_.updateType, transfer_, place_.manifestName, trust_,
                       cause, bytes))
    return Fail(cause);
  if (place_.component) manifestBytes_ = bytes;
  manifest_ = std::make_shared<CConfigFile>(CConfigFile::OfBytes(std::move(bytes)));
  return true;
}

CUpdateSession::Comparison CUpdateSession::Reject(const std::string& cause) {
  Fail(place_.manifestName + cause + "; nothing was installed");
  return Comparison::kRejected;
}

CUpdateSession::Comparison CUpdateSession::Compare() {
  files_.clear();
  if (place_.component) return CompareComponent();

  CConfigFile& manifest = *manifest_;
  manifest.ReadString("Version", "VERSION", "", release_.version);
  manifest.ReadString("Version", "REGION", "", release_.region);
  release_.notify = manifest.ReadInteger("Version", "NOTIFIY", 0);
  // A staged release that has not reached this installation yet: as far as
  // this run goes, the installation is current.
  if (HeldBackByRollout(ReadRolloutOffer(manifest), place_.localVersion, place_.region, place_.appPath))
    return compared_ = Comparison::kCurrent;
  const int compared =
      CompareUpdateConfig(manifest, UpdateCheckInfo(place_.installDir, "", place_.localVersion, place_.region), files_);
  diagnostics::LogFact("published version \"" + release_.version + "\", region \"" + release_.region + "\"; " +
                       (files_.empty() ? "nothing to install" : "to install: " + ListForLog(files_)));
  if (compared == 1) return compared_ = Comparison::kCurrent;
  // The manifest stays: staging reads the patches and compressed copies it
  // offers, and the completing path its names.
  if (compared == 0) return compared_ = Comparison::kCompared;
  bool unsafe = false;
  std::string name;
  const long listed = manifest.VisitSection("FILES", [&](std::string_view entry) {
    if (!unsafe && !IsSafeRelativeName(entry)) {
      unsafe = true;
      name = entry;
    }
  });
  if (unsafe) return Reject(" names \"" + name + "\", which lies outside the application directory");
  if (listed == 0) return Reject(" lists no files");
  return Reject(" cannot be compared with " + place_.installDir);
}

std::string CUpdateSession::ComponentName() const {
  std::string name = place_.installDir.substr(std::min(place_.appPath.size(), place_.installDir.size()));
  if (!name.empty()) name.pop_back();  // the separator
  return name;
}

CUpdateSession::Comparison CUpdateSession::CompareComponent() {
  std::vector<std::string> sections;
  manifest_->ReadSections(sections);
  // One unsafe name means the manifest cannot be trusted at all; installing
  // the rest of it would leave the component half updated.
  for (const auto& section : sections)
    if (!IsSafeRelativeName(section))
      return Reject(" names \"" + section + "\", which lies outside its component folder");
  std::vector<UpdateFileInfo> listed;
  CompareManifestEntries(*manifest_, place_.installDir, sections, listed);
  for (auto& file : listed) files_.push_back(std::move(file));
  diagnostics::LogFact("component \"" + ComponentName() + "\": " +
                       (files_.empty() ? "nothing to install" : "to install: " + ListForLog(files_)));
  return Comparison::kCompared;
}

std::vector<std::string> CUpdateSession::PendingDownloads(std::vector<int>* sizes) {
  CMD5 hasher;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const UpdateFileInfo file = files_[i];
    if (StagedCopyMatches(hasher, file, place_.stagingDir, trust_.Required())) continue;
    names.push_back(file.fileName);
    if (sizes != nullptr) sizes->push_back(std::atoi(file.size.c_str()));
  }
  return names;
}

bool CUpdateSession::VerifyArrived(const UpdateFileInfo& file, const FileDigests& digests) {
  // A server can deliver a complete file that is not the published one (a
  // broken mirror, a proxy's error page); such a file must never be
  // installed. The digests were taken while it was written: nothing is read.
  std::string cause;
  if (DigestsMatch(file, digests, trust_.Required(), &cause)) return true;
  return Fail(cause + "; nothing was installed");
}

bool CUpdateSession::Stage() {
  const bool sha256 = trust_.Required();
  transfer_.SetDigestKinds(sha256 ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  CMD5 hasher;
  std::size_t wanted = 0, failed = 0;
  std::vector<std::string> missing;  // the first names, for the cause
  bool reachable = true;
  CDownloadMeter meter;  // one progress line and one log summary for the whole list
  const StagingSource source{place_.stagingDir, place_.installDir, manifest_, place_.updateType, sha256};
  for (std::size_t first = 0; first < files_.size() && reachable; first += kStageBatch) {
    const std::size_t end = std::min(files_.size(), first + kStageBatch);
    std::vector<std::string> names;
    std::vector<UpdateFileInfo> fetched;
    transfer_.ForgetSizeLimits();
    for (std::size_t i = first; i < end; ++i) {
      UpdateFileInfo file = files_[i];
      if (StagedCopyMatches(hasher, file, place_.stagingDir, sha256)) continue;
      std::uint64_t cap = 0;
      if (ManifestSizeCap(file, cap)) transfer_.LimitSize(file.fileName, cap);
      names.push_back(file.fileName);
      fetched.push_back(std::move(file));
    }
    std::vector<const UpdateFileInfo*> pointers;
    for (const UpdateFileInfo& file : fetched) pointers.push_back(&file);
    std::vector<FileDigests> digests;
    std::vector<std::string> lacking;
    DownloadChangedFiles(source, transfer_, pointers, &lacking, &digests, &tally_, &meter);
    for (std::size_t i = 0; i < digests.size(); ++i)
      if (!digests[i].md5.empty() && !VerifyArrived(fetched[i], digests[i])) return false;
    // No server reachable: the rest of the list is not asked for.
    reachable = lacking.empty() || transfer_.LastFetchAnswered();
    wanted += reachable ? names.size() : digests.size();
    failed += lacking.size();
    for (auto& name : lacking)
      if (missing.size() < diagnostics::kShownPerKind) missing.push_back(std::move(name));
    if (observer_ != nullptr) observer_->OnStaged(end, files_.size());
  }
  transfer_.ForgetSizeLimits();
  meter.LogSummary();
  if (failed == 0) return true;
  return Fail("cannot fetch " + std::to_string(failed) + " of the " + std::to_string(wanted) + " changed files (" +
              diagnostics::NameList(missing, failed) + "); nothing was installed");
}

StagingSource CUpdateSession::DownloadSource() const {
  auto copy = manifest_ != nullptr ? std::make_shared<CConfigFile>(*manifest_) : nullptr;
  return {place_.stagingDir, place_.installDir, std::move(copy), place_.updateType, trust_.Required()};
}

bool CUpdateSession::VerifyStaged() {
  CMD5 hasher;
  std::string cause;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (!StagedCopyMatches(hasher, files_[i], place_.stagingDir, trust_.Required(), &cause))
      return Fail(cause + "; nothing was installed");
  return true;
}

bool CUpdateSession::Install() {
  if (observer_ != nullptr) observer_->OnInstalling();
  if (ReplaceInstalledFiles(files_.All(), place_.stagingDir, place_.installDir)) return true;
  if (place_.component)
    return Fail("not every file of " + NativePath(place_.installDir) + " could be replaced; its " +
                place_.manifestName + " stays as it was");
  WriteUpdateRecord(place_.appPath, place_.recordPattern, release_.version, place_.localVersion, false);
  return Fail("not every file could be replaced; version " + place_.localVersion + " stays recorded");
}

bool CUpdateSession::Commit() {
  if (place_.component) {
    // The manifest written is the one that was checked, not the staged file,
    // which nothing has looked at since.
    if (WriteFileAtomically(place_.installDir + place_.manifestName, manifestBytes_)) {
      if (!files_.empty())
        diagnostics::LogFact("installed into \"" + ComponentName() + "\": " + ListForLog(files_) + "; " +
                             DescribeTally(tally_));
      return true;
    }
    return Fail("cannot install " + NativePath(place_.installDir + place_.manifestName) + ": " + Because(errno));
  }
  const std::string& version = release_.version;
  // One section for the success and, should a later store fail, for taking it
  // back: a formatted time holds no "%", so it is its own pattern.
  const std::string section = FormatLocalTime(place_.recordPattern);
  std::string failure;
  if (!WriteUpdateRecord(place_.appPath, section, version, place_.localVersion, true)) {
    failure = "cannot write UpdateRecord.dat: " + Because(errno);
  } else if (place_.updateType == 1 && !WriteInstalledVersion(place_.appPath, version)) {
    failure = "cannot write the registry values of the installation: " + Because(errno);
  } else if (place_.updateType == 1) {
    if (!place_.versionOnlyWhenGreater || IsVersionGreater(version, place_.localVersion)) {
      CCryptConfigFile config(place_.appPath + "Config.dat", "");
      if (config.WriteString("Update", "Version", version) == 0)
        failure = "cannot write version " + version + " into Config.dat: " + Because(errno);
    }
  } else {
    // The dialog for another type keeps a staged config.ini beside the
    // program, when the release has one.
    const std::string staged = place_.stagingDir + "config.ini";
    if (PathFileExistsA(staged.c_str()) && !CopyFileA(staged.c_str(), (place_.appPath + "config.ini").c_str(), FALSE))
      failure = "cannot install config.ini into the application directory: " + Because(errno);
  }
  if (failure.empty()) {
    diagnostics::LogFact("installed version " + version + ": " + ListForLog(files_) +
                         (files_.empty() ? "" : "; " + DescribeTally(tally_)));
    return true;
  }
  // Taken back as far as the disk lets: no store may claim a version that
  // the commit point does not hold.
  WriteUpdateRecord(place_.appPath, section, version, place_.localVersion, false);
  if (place_.updateType == 1) WriteInstalledVersion(place_.appPath, place_.localVersion);
  return Fail(failure + "; version " + place_.localVersion + " stays recorded and the next run completes it");
}

bool CUpdateSession::WantsCompletion() const {
  // An older release of the same region, which UNCONDITIONALUPDATE makes
  // compare, was never installed by anyone: it must not be recorded.
  return !place_.component && compared_ == Comparison::kCompared && manifest_ != nullptr && files_.empty() &&
         !release_.version.empty() && release_.version != place_.localVersion &&
         (IsVersionGreater(release_.version, place_.localVersion) || release_.region != place_.region);
}

bool CUpdateSession::CompleteInterrupted() {
  // The files were found in place, but nothing says they reached the disk:
  // the run that renamed them may have been killed before its flush.
  std::vector<std::string> paths;
  manifest_->VisitSection("FILES",
                          [&](std::string_view entry) { paths.push_back(place_.installDir + std::string(entry)); });
  if (!MakeInstalledFilesDurable(paths, place_.installDir)) return false;
  if (!Commit()) return false;
  diagnostics::LogFact("recorded version " + release_.version + ", whose files were all in place already");
  return true;
}

void CUpdateSession::RemoveStaging() {
  if (LinkOnTheWayToStaging().empty()) CDirectoryEx::DeleteDirectory(place_.stagingDir);
}
