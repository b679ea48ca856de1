#include "update/UpdateSession.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "install/InstallJournal.h"
#include "install/Installation.h"
#include "platform/core_guard.h"
#include "platform/crypt/MD5.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/thread/ThreadBase.h"
#include "platform/win32/FileAttributes.h"
#include "platform/win32/Files.h"
#include "transfer/DownloadFileList.h"
#include "transfer/DownloadMeter.h"
#include "transfer/FetchList.h"
#include "transfer/KeptManifest.h"
#include "update/DeltaOffers.h"
#include "update/Rollout.h"
#include "update/StagedCheck.h"
#include "update/Trial.h"
#include "update/UpdateRecord.h"

namespace {

// Staging progress is reported every this many files.
constexpr std::size_t kStageBatch = 1024;

// "3 files: a, b, c" for the log.
std::string ListForLog(const CChangedFiles& files) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files.size() && i < diagnostics::kShownPerKind; ++i) names.push_back(files[i].fileName);
  return std::to_string(files.size()) + (files.size() == 1 ? " file: " : " files: ") +
         diagnostics::NameList(names, files.size());
}

std::string Because(int error) { return diagnostics::ErrorText(error != 0 ? error : EIO); }

// Why a manifest may not list name (one that fails IsReleaseFileName), for
// files that belong in folder.
std::string NamedWrongly(const std::string& name, const std::string& folder) {
  if (!IsSafeRelativeName(name)) return " names \"" + name + "\", which lies outside " + folder;
  return " names \"" + name + "\", which lies in \"" + kDeltaFolder +
         "\", where the publication keeps its patches";
}

}  // namespace

UpdateFolders FoldersOfType(const std::string& appPath, int updateType, const std::string& moduleName) {
  if (updateType == 1) return {appPath, appPath + "UPDATE\\Program\\"};
  return {appPath + moduleName + "\\", appPath + "UPDATE\\" + moduleName + "\\"};
}

CUpdateSession::CUpdateSession(UpdatePlace place, CZOLTUpdateIntf& transfer, IUpdateObserver* observer)
    : place_(std::move(place)),
      transfer_(transfer),
      observer_(observer),
      digestCache_(place_.appPath + "UPDATE.kept\\" + std::to_string(place_.updateType) + "\\digests",
                   place_.installDir) {}

void CUpdateSession::Underway() {
  // A run that only finds the installation current leaves one line, written
  // at its end; one that changes anything is logged as it goes, so that a
  // run killed half way (or after its commit) leaves every line it reached.
  diagnostics::ReleaseFacts();
}

bool CUpdateSession::Fail(const std::string& cause) {
  // An empty cause was reported where it was met (the transfer names each
  // server and why): the observer still learns of the failure.
  if (cause.empty()) {
    if (observer_ != nullptr) observer_->OnFailure(diagnostics::FirstCause());
    return false;
  }
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
  if (!trust_.Required()) NoteUnsignedReleasesTaken();
  if (place_.readOnly) return true;
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
  if (!link.empty())
    return Fail(link + " is a symbolic link, or lies outside the application directory; not following it");
  return ResolveJournal();
}

void CUpdateSession::NoteUnsignedReleasesTaken() const {
  // Without the key file the signature checks are off. An installation that
  // never had one says so in its log; one that accepted signed releases
  // before (its serial record says so) has lost its key, which a deleted or
  // unshipped file does silently: that is said on stderr as well.
  const SSerialFloor floor = CKeptFiles(place_.appPath, place_.updateType).HighestSerial(place_.manifestName);
  if (!floor.serial) {
    diagnostics::LogFact(std::string("no ") + kTrustedKeysFile + ": this installation takes unsigned releases");
    return;
  }
  diagnostics::ReportWarning(NativePath(place_.appPath) + kTrustedKeysFile +
                             " is missing, though this installation accepted signed releases up to serial " +
                             std::to_string(*floor.serial) + " (kept in " + floor.record +
                             "): it takes unsigned releases now; put the publisher's key back, or delete " +
                             floor.record + " if its releases are no longer signed");
}

bool CUpdateSession::ResolveJournal() {
  const std::string path = JournalPath(place_.appPath, place_.updateType);
  SInstallJournal journal;
  std::string cause;
  switch (ReadJournal(path, journal, cause)) {
    case EJournalRead::kNone:
      return true;
    case EJournalRead::kRefused:
      // Not written by this updater, or not intact: nothing in it is acted
      // on. The comparison below still brings the files to the release.
      diagnostics::LogFact("install journal not used: " + cause + "; removed");
      DeleteFileA(path.c_str());
      return true;
    case EJournalRead::kRead:
      break;
  }
  // A trial or a rollback is the program's to finish (Trial.h), before any
  // mode runs; a run that meets one here goes on as if it were not there.
  if (journal.state != EJournalState::kInstall) return true;
  const std::string installDir = journal.folder.empty() ? place_.appPath : place_.appPath + journal.folder + "\\";
  // Past the commit point: the version (or a component's manifest) that the
  // commit wrote last says the release is in place.
  bool committed = false;
  if (journal.type == 1) {
    std::string recorded;
    CCryptConfigFile(place_.appPath + "Config.dat", "").ReadString("Update", "Version", "", recorded);
    committed = recorded == journal.version && journal.version != journal.oldVersion;
  } else {
    std::string bytes;
    committed = ReadFileGuarded(installDir + "config.ini", bytes, {CZOLTUpdateIntf::kDefaultSizeCap}) &&
                "sha256 " + CMD5::SHA256OfBytes(bytes.data(), bytes.size()) == journal.release;
  }
  if (committed) {
    std::vector<std::string> paths;
    for (const auto& name : journal.kept) paths.push_back(installDir + name);
    for (const auto& name : journal.added) paths.push_back(installDir + name);
    if (!MakeInstalledFilesDurable(paths, installDir)) return false;
    diagnostics::LogFact("version " + journal.version + " was committed by a run that ended before its journal");
    if (journal.type == 1)
      ConcludeCommittedInstall(place_.appPath, journal);
    else
      KeepAsPrevious(place_.appPath, journal);
    return true;
  }
  if (!PutBackKept(place_.appPath, journal, cause))
    return Fail("cannot undo the install of version " + journal.version + " that an earlier run cut short: " + cause);
  if (journal.type == 1) {
    // A run stopped after its record or registry write leaves them claiming
    // the release: they go back with the files.
    WriteUpdateRecord(place_.appPath, place_.recordPattern, journal.version, journal.oldVersion, false);
    WriteInstalledVersion(place_.appPath, journal.oldVersion);
  }
  DropJournalAndPrevious(place_.appPath, place_.updateType);
  diagnostics::LogFact("undid the install of version " + journal.version + " over " + journal.oldVersion +
                       " that an earlier run cut short before its commit point");
  return true;
}

bool CUpdateSession::FetchManifest() {
  std::string cause, bytes;
  if (!::FetchManifest(place_.appPath, place_.stagingDir, place_.updateType, transfer_, place_.manifestName, trust_,
                       cause, bytes, !place_.readOnly))
    return Fail(cause);
  if (place_.component) manifestBytes_ = bytes;
  // What a hold after a rollback names: a signed release by its serial, any
  // other by its manifest's digest.
  SReleaseHeader header;
  releaseId_ = trust_.Required() && ParseReleaseHeader(bytes, header)
                   ? "serial " + std::to_string(header.serial)
                   : "sha256 " + CMD5::SHA256OfBytes(bytes.data(), bytes.size());
  // A web server's error or login page served with 200 parses as a profile
  // file that lists nothing; the cause must say what it is.
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  htmlStart_.clear();
  if (first != std::string::npos && bytes[first] == '<')
    htmlStart_ = bytes.substr(first, std::min<std::size_t>(bytes.find('\n', first) - first, 40));
  // A manifest without patch or compressed-copy keys (most) needs no copy of
  // it for a thread that fetches while the comparison reads it.
  offersDeltas_ = bytes.find("\nPATCH_") != std::string::npos || bytes.find("\nZSTDSIZE=") != std::string::npos;
  manifest_ = std::make_shared<CConfigFile>(CConfigFile::OfBytes(std::move(bytes)));
  return true;
}

CUpdateSession::Comparison CUpdateSession::Reject(const std::string& cause) {
  Fail(place_.manifestName + cause + "; nothing was installed");
  return Comparison::kRejected;
}

bool CUpdateSession::BeginComparison(Comparison& early) {
  files_.clear();
  if (place_.component) {
    sections_.clear();
    manifest_->ReadSections(sections_);
    // One unsafe name means the manifest cannot be trusted at all; installing
    // the rest of it would leave the component half updated.
    for (const auto& section : sections_)
      if (!IsReleaseFileName(section)) {
        early = Reject(NamedWrongly(section, "its component folder"));
        return false;
      }
    return true;
  }
  CConfigFile& manifest = *manifest_;
  manifest.ReadString("Version", "VERSION", "", release_.version);
  manifest.ReadString("Version", "REGION", "", release_.region);
  release_.notify = manifest.ReadInteger("Version", "NOTIFIY", 0);
  // A release of another region replaces the installed files whatever its
  // version: meant for moving an installation between regions, but a typo in
  // Config.dat's Region does the same, so the log says why it happens.
  if (release_.region != place_.region)
    diagnostics::LogFact("the published release is for region \"" + release_.region +
                         "\", this installation's (Config.dat [Update] Region) is \"" + place_.region +
                         "\": a release of another region is installed whatever its version (published \"" +
                         release_.version + "\", installed \"" + place_.localVersion + "\")");
  if (HeldAfterRollback()) {
    diagnostics::NoteUpToDate();
    early = compared_ = Comparison::kCurrent;
    return false;
  }
  // A staged release that has not reached this installation yet: as far as
  // this run goes, the installation is current.
  std::string undecided;
  if (HeldBackByRollout(ReadRolloutOffer(manifest), place_.localVersion, place_.region, place_.appPath, &undecided)) {
    // Held back for ever with exit 0 would hide it: the run fails instead.
    if (!undecided.empty()) {
      Fail(undecided + "; nothing was installed");
      early = compared_ = Comparison::kRejected;
      return false;
    }
    diagnostics::NoteUpToDate();
    early = compared_ = Comparison::kCurrent;
    return false;
  }
  return true;
}

int CUpdateSession::HashInstalledCopies(IChangedFileSink& sink, std::size_t batch, unsigned threads) {
  const auto start = std::chrono::steady_clock::now();
  UpdateCheckInfo request(place_.installDir, "", place_.localVersion, place_.region);
  request.digestCache = &digestCache_;
  request.hashBatch = batch;
  request.hashThreads = threads;
  int compared = 0;
  if (place_.component)
    CompareManifestEntries(*manifest_, request, sections_, sink);
  else
    compared = CompareUpdateConfig(*manifest_, request, sink);
  hashing_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return compared;
}

CUpdateSession::Comparison CUpdateSession::ConcludeComparison(int compared) {
  // A hint for the next run; one that cannot be written costs only time.
  if (!place_.readOnly) digestCache_.Write();
  if (place_.component) {
    if (files_.empty()) diagnostics::NoteUpToDate();
    if (!files_.empty()) Underway();
    diagnostics::LogFact("component \"" + ComponentName() +
                         "\": " + (files_.empty() ? "nothing to install" : "to install: " + ListForLog(files_)));
    return compared_ = Comparison::kCompared;
  }
  diagnostics::LogFact("published version \"" + release_.version + "\", region \"" + release_.region + "\"; " +
                       (files_.empty() ? "nothing to install" : "to install: " + ListForLog(files_)));
  if (compared == 0 && (!files_.empty() || WantsCompletion())) Underway();
  // Nothing to install and nothing to complete: the run leaves one log line.
  if (compared == 1) {
    diagnostics::NoteUpToDate();
    return compared_ = Comparison::kCurrent;
  }
  if (compared == 0) {
    compared_ = Comparison::kCompared;
    if (files_.empty() && !WantsCompletion()) diagnostics::NoteUpToDate();
    // The manifest stays: staging reads the patches and compressed copies it
    // offers, and the completing path its names.
    return compared_;
  }
  CConfigFile& manifest = *manifest_;
  bool unsafe = false;
  std::string name;
  const long listed = manifest.VisitSection("FILES", [&](std::string_view entry) {
    if (!unsafe && !IsReleaseFileName(entry)) {
      unsafe = true;
      name = entry;
    }
  });
  if (unsafe) return Reject(NamedWrongly(name, "the application directory"));
  if (!htmlStart_.empty())
    return Reject(" is not a manifest: it begins with \"" + htmlStart_ +
                  "\", as an HTML page does (a web server's error or login page, served with status 200)");
  if (listed == 0) return Reject(" lists no files");
  return Reject(" cannot be compared with " + place_.installDir);
}

std::string CUpdateSession::ComponentName() const {
  std::string name = place_.installDir.substr(std::min(place_.appPath.size(), place_.installDir.size()));
  if (!name.empty()) name.pop_back();  // the separator
  return name;
}

namespace {

// Appends what a comparison finds to the session's list.
class ListSink : public IChangedFileSink {
 public:
  explicit ListSink(CChangedFiles& files) : files_(files) {}
  std::size_t size() const override { return files_.size(); }
  void reserve(std::size_t count) override { files_.reserve(count); }
  void push_back(UpdateFileInfo&& file) override { files_.push_back(std::move(file)); }

 private:
  CChangedFiles& files_;
};

// Hands changed files from the comparing thread to the fetching one. Bounded:
// a comparison far ahead of the downloads waits, so neither memory nor the
// work queued grows with the size of the release.
class FileQueue : public IChangedFileSink {
 public:
  void push_back(UpdateFileInfo&& file) override {
    std::unique_lock lock(mutex_);
    notFull_.wait(lock, [&] { return queue_.size() < kCapacity; });
    queue_.push_back(std::move(file));
    notEmpty_.notify_one();
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    notEmpty_.notify_one();
  }
  // False once the queue is closed and empty.
  bool Pop(UpdateFileInfo& file) {
    std::unique_lock lock(mutex_);
    notEmpty_.wait(lock, [&] { return !queue_.empty() || closed_; });
    if (queue_.empty()) return false;
    file = std::move(queue_.front());
    queue_.pop_front();
    notFull_.notify_one();
    return true;
  }

 private:
  static constexpr std::size_t kCapacity = 256;
  std::mutex mutex_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<UpdateFileInfo> queue_;
  bool closed_ = false;
};

// Installed copies hashed at a time while files are fetched: small, so that
// the first download starts after a few files rather than a few thousand.
constexpr std::size_t kOverlapBatch = 16;

}  // namespace

struct CUpdateSession::StageProgress {
  explicit StageProgress(StagingSource from) : source(std::move(from)) {}
  // Whichever way staging ends, the log gets what moved.
  ~StageProgress() { meter.LogSummary(); }
  StagingSource source;  // where the patches and compressed copies are offered
  CDownloadMeter meter;  // one progress line and one log summary for the whole list
  // Made for the first file fetched; detaches the meter when it goes, which
  // is before the meter does.
  std::unique_ptr<CFetchList> fetch;
  std::unique_ptr<CStagedCheck> check;  // checks whole arrivals beside the fetching, when set
};

bool CUpdateSession::HeldAfterRollback() {
  SHeldRelease held;
  std::string cause;
  if (!ReadHold(place_.appPath, place_.updateType, held, cause)) {
    if (!cause.empty()) diagnostics::LogFact("hold not used: " + cause + "; removed");
    return false;
  }
  if (held.release == releaseId_) {
    diagnostics::LogFact("version " + release_.version + " (" + releaseId_ +
                         ") is held back on this installation: it was rolled back");
    return true;
  }
  ClearHold(place_.appPath, place_.updateType);
  diagnostics::LogFact("the hold on version " + held.version + " (" + held.release + ") is cleared by version " +
                       release_.version + " (" + releaseId_ + ")");
  return false;
}

CUpdateSession::Comparison CUpdateSession::Compare() {
  Comparison early;
  if (!BeginComparison(early)) return early;
  ListSink sink(files_);
  return ConcludeComparison(HashInstalledCopies(sink, 0, 0));
}

CUpdateSession::Comparison CUpdateSession::CompareAndStage(bool& staged) {
  staged = false;
  Comparison early;
  if (!BeginComparison(early)) return early;
  // A release that is current by its header hashes nothing: no thread for it
  // (the comparison itself still decides).
  if (!place_.component && manifest_->ReadInteger("Version", "UNCONDITIONALUPDATE", 0) == 0 &&
      release_.region == place_.region && !IsVersionGreater(release_.version, place_.localVersion)) {
    ListSink sink(files_);
    return ConcludeComparison(HashInstalledCopies(sink, 0, 0));
  }
  FileQueue queue;
  int compared = -1;
  std::exception_ptr thrown;
  std::thread comparing;
  try {
    comparing = std::thread([&] {
      try {
        // The downloads (receiving, and digesting what arrives) come first:
        // the hashing has every processor, but only what they leave over.
        LowerCurrentThreadPriority(5);
        compared = HashInstalledCopies(queue, kOverlapBatch, 0);
      } catch (...) {
        thrown = std::current_exception();
      }
      queue.Close();
    });
  } catch (const std::system_error&) {
    // No thread to be had (a tight process limit): one step after the other.
    ListSink sink(files_);
    const Comparison outcome = ConcludeComparison(HashInstalledCopies(sink, 0, 0));
    staged = outcome == Comparison::kCompared && Stage();
    return outcome;
  }
  // Should staging throw, the comparing thread is let finish before the
  // exception leaves: it may be waiting for room in the queue.
  struct Drain {
    FileQueue& queue;
    std::thread& thread;
    ~Drain() {
      if (!thread.joinable()) return;
      for (UpdateFileInfo file; queue.Pop(file);) {
      }
      thread.join();
    }
  } drain{queue, comparing};
  // A file that arrives whole is checked by the staged check's thread, not
  // while it is received; patched and decompressed copies still carry the
  // digests taken as they were written.
  transfer_.SetDigestKinds(0);
  // The comparing thread reads the session's parse meanwhile: the offers
  // come from a copy of it.
  StageProgress progress(DeltaSource(true));
  progress.check = std::make_unique<CStagedCheck>(place_.stagingDir, trust_.Required());
  bool going = true;
  // After a file arrived damaged nothing more is fetched, but the comparison
  // still runs to its end, so that the log names everything that differs.
  for (UpdateFileInfo file; queue.Pop(file);) {
    files_.push_back(UpdateFileInfo(file));
    if (going) going = StageFile(std::move(file), progress) && NoneDamaged(progress.check->Damaged());
  }
  comparing.join();
  if (thrown) std::rethrow_exception(thrown);
  const Comparison outcome = ConcludeComparison(compared);
  staged = outcome == Comparison::kCompared && going && FinishStaging(progress);
  return outcome;
}

std::int64_t CUpdateSession::ListedSize(const UpdateFileInfo& file) {
  // atoi's reading (leading blanks and sign, digits up to the first other
  // character, 0 for none) without its 32-bit overflow.
  return std::strtoll(file.size.c_str(), nullptr, 10);
}

std::vector<std::string> CUpdateSession::PendingDownloads(std::vector<std::int64_t>* sizes) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const UpdateFileInfo file = files_[i];
    if (StagedCopyMatches(file, place_.stagingDir, trust_.Required())) continue;
    names.push_back(file.fileName);
    if (sizes != nullptr) sizes->push_back(ListedSize(file));
  }
  return names;
}

bool CUpdateSession::ArrivedCopyMatches(const UpdateFileInfo& file, const FileDigests& digests, std::string& cause) {
  // A server can deliver a complete file that is not the published one (a
  // broken mirror, a proxy's error page); such a file must never be
  // installed, nor taken by a later run for the file. The digests were taken
  // while it was written: nothing is read.
  if (DigestsMatch(file, digests, trust_.Required(), &cause)) return true;
  DeleteFileA((place_.stagingDir + file.fileName).c_str());
  return false;
}

bool CUpdateSession::VerifyArrived(const UpdateFileInfo& file, const FileDigests& digests) {
  std::string cause;
  return ArrivedCopyMatches(file, digests, cause) || Fail(cause + "; nothing was installed");
}

bool CUpdateSession::StageFile(UpdateFileInfo file, StageProgress& progress) {
  staging_ = true;
  // A copy an earlier run staged, whole and with the published digests, is
  // not fetched again.
  if (StagedCopyMatches(file, place_.stagingDir, trust_.Required())) return true;
  if (!progress.fetch) {
    Underway();
    progress.fetch = std::make_unique<CFetchList>(transfer_, progress.source, &progress.meter, &tally_);
  }
  // No server reachable: the rest of the list is not asked for, but counted.
  if (!progress.fetch->Reachable()) {
    progress.fetch->Skip(file);
    return true;
  }
  std::uint64_t size = 0;
  progress.meter.Expect(1, ParseDecimalSize(file.size, size) ? size : 0);
  const double before = progress.fetch->Seconds();
  const bool arrived = progress.fetch->Fetch(file);
  network_ += progress.fetch->Seconds() - before;
  if (!arrived) return true;
  const FileDigests& digests = progress.fetch->LastDigests();
  if (progress.check == nullptr || !digests.md5.empty()) return VerifyArrived(file, digests);
  progress.check->Add(file);
  return true;
}

bool CUpdateSession::NoneDamaged(const std::string& damaged) {
  return damaged.empty() || Fail(damaged + "; nothing was installed");
}

bool CUpdateSession::FinishStaging(StageProgress& progress) {
  if (progress.check != nullptr) {
    const auto start = std::chrono::steady_clock::now();
    const std::string damaged = progress.check->Finish();
    checking_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!NoneDamaged(damaged)) return false;
  }
  progress.meter.LogSummary();
  if (!progress.fetch || progress.fetch->Failed() == 0) return true;
  return Fail(progress.fetch->Shortfall() + "; nothing was installed");
}

bool CUpdateSession::Stage() {
  transfer_.SetDigestKinds(trust_.Required() ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  // Staging runs on this thread alone: the delta offers are read from the
  // session's own parse.
  StageProgress progress(DeltaSource(false));
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!StageFile(files_[i], progress)) return false;
    if (observer_ != nullptr && ((i + 1) % kStageBatch == 0 || i + 1 == files_.size()))
      observer_->OnStaged(i + 1, files_.size());
  }
  return FinishStaging(progress);
}

StagingSource CUpdateSession::DeltaSource(bool ownCopy) const {
  std::shared_ptr<CConfigFile> manifest;
  if (offersDeltas_ && manifest_ != nullptr) manifest = ownCopy ? std::make_shared<CConfigFile>(*manifest_) : manifest_;
  return {place_.stagingDir, place_.installDir, std::move(manifest), place_.updateType, trust_.Required()};
}

StagingSource CUpdateSession::DownloadSource() const { return DeltaSource(true); }

bool CUpdateSession::VerifyStaged() { return VerifyStaged({}, {}); }

bool CUpdateSession::VerifyStaged(const std::vector<std::string>& fetched, const std::vector<FileDigests>& digests) {
  std::unordered_map<std::string_view, const FileDigests*> streamed;
  for (std::size_t i = 0; i < fetched.size() && i < digests.size(); ++i)
    if (!digests[i].md5.empty()) streamed[fetched[i]] = &digests[i];
  std::string cause;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const UpdateFileInfo file = files_[i];
    const auto found = streamed.find(file.fileName);
    // A copy staged before this run (or not fetched by the thread) is read.
    const bool matches = found != streamed.end()
                             ? ArrivedCopyMatches(file, *found->second, cause)
                             : StagedCopyMatches(file, place_.stagingDir, trust_.Required(), &cause);
    if (!matches) return Fail(cause + "; nothing was installed");
  }
  return true;
}

void CUpdateSession::RecordInstalled() {
  // The installed copies are the verified staged ones: their digests are the
  // manifest's, and their stamps are taken after the flush.
  const std::int64_t seen = FileClockNow();
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const UpdateFileInfo file = files_[i];
    FileStamp stamp;
    if (StampRegularFile(place_.installDir + file.fileName, stamp))
      digestCache_.Record(file.fileName, stamp, seen, file.md5, trust_.Required() ? file.sha256 : std::string());
  }
  digestCache_.Write();
}

bool CUpdateSession::TakeConfigBesideProgram() {
  beside_.reset();
  if (place_.component || place_.updateType == 1) return true;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    const UpdateFileInfo file = files_[i];
    if (file.fileName != kBesideProgram) continue;
    // Taken now, while the staged copy is still there to take: the install
    // moves it into the component's folder. The bytes held are the ones
    // checked against the manifest, whatever happens to the files later.
    std::string bytes, cause;
    if (!ReadFileGuarded(place_.stagingDir + file.fileName, bytes, {CZOLTUpdateIntf::kDefaultSizeCap}, &cause))
      return Fail("cannot read the staged " + std::string(kBesideProgram) + ": " + cause + "; nothing was installed");
    FileDigests digests;
    digests.md5 = CMD5::OfBytes(bytes.data(), bytes.size());
    if (trust_.Required()) digests.sha256 = CMD5::SHA256OfBytes(bytes.data(), bytes.size());
    if (!DigestsMatch(file, digests, trust_.Required(), &cause)) return Fail(cause + "; nothing was installed");
    beside_ = std::move(bytes);
  }
  return true;
}

bool CUpdateSession::Install() {
  Underway();
  if (!TakeConfigBesideProgram()) return false;
  if (observer_ != nullptr) observer_->OnInstalling();
  const auto start = std::chrono::steady_clock::now();
  const double flushedBefore = FlushSeconds();
  const std::vector<UpdateFileInfo> files = files_.All();
  journal_ = SInstallJournal();
  journal_.type = place_.updateType;
  journal_.folder = place_.installDir.substr(std::min(place_.appPath.size(), place_.installDir.size()));
  if (!journal_.folder.empty()) journal_.folder.pop_back();
  journal_.version = place_.component ? std::string() : release_.version;
  journal_.region = place_.component ? std::string() : release_.region;
  journal_.release = place_.component ? "sha256 " + CMD5::SHA256OfBytes(manifestBytes_.data(), manifestBytes_.size())
                                      : releaseId_;
  journal_.oldVersion = place_.localVersion;
  journal_.oldRegion = place_.region;
  if (std::string cause; !BeginJournaledInstall(place_.appPath, place_.installDir, files, journal_, cause)) {
    journaled_ = false;
    return Fail(cause + "; nothing was installed");
  }
  journaled_ = true;
  if (ReplaceInstalledFiles(files, place_.stagingDir, place_.installDir)) {
    const double flush = FlushSeconds() - flushedBefore;
    const double install = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - flush;
    RecordInstalled();
    installing_ = install;
    flushing_ = flush;
    return true;
  }
  // What was replaced goes back at once, so that the installation is the
  // release its stores name; should that fail too, the next run does it.
  if (std::string cause; PutBackKept(place_.appPath, journal_, cause))
    DropJournalAndPrevious(place_.appPath, place_.updateType);
  else
    diagnostics::ReportCause(cause);
  journaled_ = false;
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
      // A component has no restart to judge: confirmed with its commit.
      if (journaled_) KeepAsPrevious(place_.appPath, journal_);
      journaled_ = false;
      if (!files_.empty())
        diagnostics::LogFact("installed into \"" + ComponentName() + "\": " + ListForLog(files_) + "; " +
                             DescribeTally(tally_));
      return true;
    }
    return Fail("cannot install " + NativePath(place_.installDir + place_.manifestName) + ": " + Because(errno));
  }
  const auto start = std::chrono::steady_clock::now();
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
  } else if (beside_) {
    // The dialog for another type keeps the release's config.ini beside the
    // program too, when the release lists one.
    if (!WriteFileAtomically(place_.appPath + kBesideProgram, *beside_))
      failure = "cannot install config.ini into the application directory: " + Because(errno);
  }
  if (failure.empty()) {
    diagnostics::LogFact("installed version " + version + ": " + ListForLog(files_) +
                         (files_.empty() ? "" : "; " + DescribeTally(tally_)));
    char times[200];
    std::snprintf(
        times, sizeof times,
        "time taken: hashing %.3f s, network %.3f s, checking %.3f s, install %.3f s, flush %.3f s, commit %.3f s",
        hashing_, network_, checking_, installing_, flushing_,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    diagnostics::LogFact(times);
    if (journaled_) {
      if (place_.updateType == 1)
        ConcludeCommittedInstall(place_.appPath, journal_);
      else
        KeepAsPrevious(place_.appPath, journal_);
    }
    journaled_ = false;
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

void CUpdateSession::LeaveStaging(bool succeeded) {
  // A run that never got to staging (no manifest, a rejected one) has
  // nothing there worth keeping.
  if (succeeded || !staging_) return RemoveStaging();
  if (PathIsDirectoryA(place_.stagingDir.c_str()))
    diagnostics::LogFact("what was downloaded stays in " + NativePath(place_.stagingDir) +
                         " for the next run, which fetches only the rest");
}
