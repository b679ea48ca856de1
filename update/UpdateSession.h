// One update of an installation, from the leftovers of earlier runs to the
// commit of the new version. Every way of running the updater (the silent
// program run, the component run, the update dialog) goes through these steps,
// each written once here:
//
//   Prepare -> FetchManifest -> Compare -> Stage (or the dialog's download
//   thread, then VerifyStaged) -> Install -> Commit -> RemoveStaging
//
// and, for a run that finds the files of a newer release already in place,
// CompleteInterrupted instead of Stage, Install and Commit. The drivers call
// the steps in the order of their flow and present progress and outcome; the
// session decides, checks and reports.
//
// Each step returns false when the run cannot go on; its cause has then been
// reported once (stderr and the run log, diagnostics::ReportCause) and handed
// to the observer. The session runs on the thread that calls it (the start-up
// thread in every flow); it never starts a thread of its own apart from the
// hashing workers of the comparison, and it never touches a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "transfer/DeltaFetch.h"
#include "install/InstallJournal.h"
#include "update/DigestCache.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

// What a driver presents. Called on the session's thread, from inside a step.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  // A step failed with cause (already on stderr and in the log).
  virtual void OnFailure(const std::string& cause) { (void)cause; }
  // Stage: done of total changed files are in staging.
  virtual void OnStaged(std::size_t done, std::size_t total) {
    (void)done;
    (void)total;
  }
  // Install: the replacement of installed files starts now and blocks until
  // every file is in place and flushed.
  virtual void OnInstalling() {}
};

// Where and what a session updates: the members that every flow's object
// holds (directories end with "\"; see the drivers).
struct UpdatePlace {
  unsigned updateType = 1;
  std::string appPath;
  std::string installDir;
  std::string stagingDir;
  std::string manifestName;
  std::string localVersion;
  std::string region;
  // The manifest lists its files as sections ("config.ini" of a component)
  // instead of a "Version" header and a "FILES" list.
  bool component = false;
  // The record's section name (strftime pattern): the silent run records one
  // section a day, the dialog one per installation.
  std::string recordPattern = "%Y-%m-%d";
  // The dialog writes Config.dat's version only when it grows; the silent
  // run writes whatever version it installed (a region change may lower it).
  bool versionOnlyWhenGreater = false;
  // A look that changes nothing (the check): Prepare only reads the keys,
  // FetchManifest fetches in full into stagingDir (a folder of the caller's
  // outside the installation) and keeps nothing, the comparison writes no
  // digest cache. Only Prepare, FetchManifest and Compare are called.
  bool readOnly = false;
};

// The folders of an update of updateType below appPath (which ends with a
// separator), for every flow: type 1, the program, is installed into appPath
// itself and staged in appPath + "UPDATE\Program\"; any other type into
// appPath + moduleName + "\", staged in appPath + "UPDATE\" + moduleName +
// "\". Plain concatenation: an empty name gives appPath + "\" and
// appPath + "UPDATE\\"; the callers check the name.
struct UpdateFolders {
  std::string installDir;
  std::string stagingDir;
};
UpdateFolders FoldersOfType(const std::string& appPath, int updateType, const std::string& moduleName);

// The place of an owner with the members every flow's object has (updateType,
// appPath, installDir, stagingDir, manifestName, localVersion, region).
template <class Owner>
UpdatePlace PlaceOf(const Owner& owner) {
  UpdatePlace place;
  place.updateType = static_cast<unsigned>(owner.updateType);
  place.appPath = owner.appPath;
  place.installDir = owner.installDir;
  place.stagingDir = owner.stagingDir;
  place.manifestName = owner.manifestName;
  place.localVersion = owner.localVersion;
  place.region = owner.region;
  return place;
}

// The "Version" header of a versioned manifest.
struct ReleaseHeader {
  std::string version;
  std::string region;
  int notify = 0;
};

class CUpdateSession {
 public:
  // transfer and observer must outlive the session; observer may be null.
  CUpdateSession(UpdatePlace place, CZOLTUpdateIntf& transfer, IUpdateObserver* observer = nullptr);

  // Reads ZOLTUpdate.pub (a key file without a usable key stops every run),
  // deletes what earlier runs left (".bak" files, temporary files of writes
  // cut short) and checks that staging lies below the application directory
  // with no link on the way.
  bool Prepare();

  // Fetches the manifest into staging (conditionally, signed when required)
  // and parses the fetched bytes once: what Compare and Commit act on is that
  // parse, never the staged file read again.
  bool FetchManifest();
  // True when the installation requires signed releases (after Prepare).
  bool SignedReleases() const { return trust_.Required(); }

  enum class Comparison {
    kRejected,  // unsafe name, no files listed, a staged rollout this installation
                // cannot be placed in: nothing of it may be installed
    kCurrent,   // same version and region, not forced, or held back by a staged
                // rollout: nothing was hashed
    kCompared,  // Files() holds what differs (possibly nothing)
  };
  // Compares the manifest with the installed copies. kRejected reports its
  // cause; every outcome logs what was found.
  Comparison Compare();
  // Compare and Stage at once, for the flows that stage right away: each
  // changed file is fetched as soon as the comparison finds it, while the
  // rest of the installation is still being hashed. The files are fetched in
  // the same order, with the same requests, as Compare then Stage fetch them,
  // and Files() holds them in manifest order. staged: every changed file is in
  // staging and matches its digests (as Stage's result).
  Comparison CompareAndStage(bool& staged);
  const CChangedFiles& Files() const { return files_; }
  const ReleaseHeader& Release() const { return release_; }

  // The changed files whose staged copy is missing or stale, in list order,
  // with each one's manifest SIZE read as atoi reads it, but in 64 bits (the
  // dialog's download list; files of 2 GiB and more are sized right).
  std::vector<std::string> PendingDownloads(std::vector<std::int64_t>* sizes = nullptr);
  // A SIZE text as the dialog counts it (see PendingDownloads).
  static std::int64_t ListedSize(const UpdateFileInfo& file);
  // Fetches every pending file into staging and checks each against its
  // digests as it arrives. A file the servers lack does not stop the others,
  // so that the cause names every one (bounded); a file that arrives damaged,
  // or a server that cannot be reached, stops at once. Nothing is installed.
  bool Stage();
  // Checks every staged copy against its digests (after a download thread).
  bool VerifyStaged();
  // The same, taking the digests a download thread streamed for the names it
  // fetched (in the order of fetched) instead of reading those copies again.
  bool VerifyStaged(const std::vector<std::string>& fetched, const std::vector<FileDigests>& digests);
  // Where a download thread of the driver's stages from: patches and
  // compressed copies as the manifest offers them, read from a copy of the
  // verified manifest that the thread may use on its own. What the thread
  // moved comes back through NoteTransferred, for the log.
  StagingSource DownloadSource() const;
  void NoteTransferred(const TransferTally& tally) { tally_ = tally; }

  // Replaces the installed files with the staged ones and flushes them. A
  // versioned run that could not replace everything records the failure. The
  // dialog for a type other than 1 first takes the release's "config.ini"
  // (when listed and intact) to keep beside the program at Commit.
  bool Install();
  // Writes the stores, each write checked: the record, then the registry, then
  // the commit point (Config.dat's version; a component's manifest beside its
  // files). A failed write is a failed run: the record is turned back to a
  // failure, the version stays as it was, and the next clean run completes it.
  bool Commit();
  // For a newer (or other-region) release whose files all match already: an
  // earlier run stopped between its last rename and its commit point. Flushes
  // every listed file and the folders on the way, then commits.
  bool WantsCompletion() const;
  bool CompleteInterrupted();

  // Removes staging (never through a link).
  void RemoveStaging();
  // Ends a silent run's use of staging. succeeded (installed and committed,
  // or nothing to install), or a run that never began staging: staging goes.
  // Otherwise it stays, with every
  // copy that arrived whole and every ".part" of a file cut short: the next
  // run takes a staged copy only when its digests match the manifest it
  // fetches then, and continues a ".part" only when the server still has the
  // file it came from (If-Range), so nothing unverified is ever trusted.
  void LeaveStaging(bool succeeded);

 private:
  // Reports cause (stderr and the log) and hands it to the observer; an
  // empty cause was reported where it was met and only reaches the observer.
  // False.
  bool Fail(const std::string& cause);
  // Says that signature checks are off for want of the key file.
  void NoteUnsignedReleasesTaken() const;
  // Completes (past its commit point) or undoes (before it) an install that
  // an earlier run's journal names; a refused journal is removed unread.
  bool ResolveJournal();
  // The fetched release is the one held back after a rollback (logged); a
  // hold on another release is cleared.
  bool HeldAfterRollback();
  // The run is about to change something: the log is written line by line
  // from now on.
  void Underway();
  std::string LinkOnTheWayToStaging() const;
  Comparison CompareComponent();
  // The component folder's name below the application directory, for the log.
  std::string ComponentName() const;
  Comparison Reject(const std::string& cause);
  bool VerifyArrived(const UpdateFileInfo& file, const FileDigests& digests);
  // Digests taken as file arrived against its entry; a copy that is not the
  // published one is deleted from staging, and cause says why.
  bool ArrivedCopyMatches(const UpdateFileInfo& file, const FileDigests& digests, std::string& cause);
  // Compare in three parts: what is decided before anything is hashed (false:
  // nothing is, with the outcome in early), the hashing, which hands each
  // changed file to sink and may run on another thread, and the conclusion.
  bool BeginComparison(Comparison& early);
  int HashInstalledCopies(IChangedFileSink& sink, std::size_t batch, unsigned threads);
  Comparison ConcludeComparison(int compared);
  struct StageProgress;
  bool StageFile(UpdateFileInfo file, StageProgress& progress);
  bool FinishStaging(StageProgress& progress);
  // False, the cause reported, when the staged check found a damaged file.
  bool NoneDamaged(const std::string& damaged);
  // Where staging reads the offered patches and compressed copies: none when
  // the manifest offers none; a copy of the parse for a thread that runs
  // beside another reader of it.
  StagingSource DeltaSource(bool ownCopy) const;
  void RecordInstalled();
  // For the dialog of a type other than 1: the verified bytes of the staged
  // "config.ini" when the release lists one, for Commit to put beside the
  // program. False, the cause reported, when that copy is unreadable or damaged.
  bool TakeConfigBesideProgram();
  static constexpr const char* kBesideProgram = "config.ini";

  UpdatePlace place_;
  CZOLTUpdateIntf& transfer_;
  IUpdateObserver* observer_;
  CReleaseTrust trust_;
  std::string manifestBytes_;              // kept for a component's commit
  std::shared_ptr<CConfigFile> manifest_;  // the verified parse
  bool offersDeltas_ = false;              // it lists patches or compressed copies
  bool staging_ = false;    // staging began: a failed run keeps what it holds
  std::string htmlStart_;  // the fetched manifest's first line, when it begins as HTML does
  TransferTally tally_;    // what staging moved
  ReleaseHeader release_;
  std::optional<std::string> beside_;  // see TakeConfigBesideProgram
  Comparison compared_ = Comparison::kRejected;
  std::vector<std::string> sections_;  // a component's entries
  CChangedFiles files_;
  CDigestCache digestCache_;
  std::string releaseId_;    // "serial N" or "sha256 HEX", for the journal and the hold
  SInstallJournal journal_;  // of the install under way
  bool journaled_ = false;
  // Where the run's time went, for the log: seconds.
  // checking_: the wait, after the last arrival, for the staged check.
  double hashing_ = 0, network_ = 0, checking_ = 0, installing_ = 0, flushing_ = 0;
};
