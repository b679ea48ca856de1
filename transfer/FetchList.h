// The one loop body that fetches changed files into staging, for every flow:
// the session's staging, the update dialog's download thread, and
// DownloadFileList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"
#include "transfer/DeltaFetch.h"
#include "transfer/DownloadMeter.h"
#include "update/UpdateManifest.h"

class CFetchList {
 public:
  // Fetches with transfer into source.stagingDir, by the smallest way
  // source.manifest offers (CDeltaFetch), adding to tally when given. meter,
  // when given, shows the progress: it is attached to transfer now and
  // detached by the destructor, whichever way the caller leaves. transfer,
  // source's manifest, tally and meter must outlive this object. One thread.
  CFetchList(CZOLTUpdateIntf& transfer, StagingSource source, CDownloadMeter* meter = nullptr,
             TransferTally* tally = nullptr);
  ~CFetchList();
  CFetchList(const CFetchList&) = delete;
  CFetchList& operator=(const CFetchList&) = delete;

  // Fetches one file: its folder made first, its manifest SIZE as the cap of
  // its download (for this fetch only; a file without a decimal SIZE keeps
  // whatever cap the caller gave its name), reported to notifyWnd as
  // CZOLTUpdateIntf::GetRemoteFile reports. True when the file is in
  // staging; then LastDigests() holds the digests taken as it was written
  // (empty texts when the transfer took none). A file that did not arrive is
  // counted and named (Failed, Shortfall), and once a fetch fails without
  // every server answering (none reachable, a local write refused, a
  // cancel), Reachable() turns false.
  bool Fetch(const UpdateFileInfo& file, HWND notifyWnd = nullptr, unsigned notifyMsg = 0);
  // Counts a file as not fetched without asking for it: after the servers
  // were found unreachable, the rest of a list is not asked for, but it is
  // still counted, so that the cause says how much is missing.
  void Skip(const UpdateFileInfo& file);

  bool Reachable() const { return reachable_; }
  std::size_t Wanted() const { return wanted_; }
  std::size_t Failed() const { return failed_; }
  // "cannot fetch 3 of the 300 changed files (a, b, c)": empty when none
  // failed. When a local write found the disk full, DiskShortage follows.
  std::string Shortfall() const;
  // After a local write found the disk full: "the disk holding STAGING is
  // full: the files still to download need N bytes more, and M are free
  // there" (their manifest SIZE less what their ".part" files hold); empty
  // otherwise.
  std::string DiskShortage() const;
  const FileDigests& LastDigests() const { return delta_.LastDigests(); }
  // Seconds spent in fetches, for the log.
  double Seconds() const { return seconds_; }

 private:
  void CountFailure(const UpdateFileInfo& file);

  CZOLTUpdateIntf& transfer_;
  std::string stagingDir_;
  CDeltaFetch delta_;
  CDownloadMeter* meter_;
  bool reachable_ = true;
  std::size_t wanted_ = 0, failed_ = 0;
  std::vector<std::string> missing_;  // the first names, for the cause
  std::uint64_t missingBytes_ = 0;    // still to download of the files not fetched
  bool diskFull_ = false;
  double seconds_ = 0;
};
