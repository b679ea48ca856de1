// The check of files as they arrive in staging, on a thread of its own.
//
// The thread that receives a file only writes it; this one reads the staged
// copy back (from the page cache it was just written to), compares its
// digests with the manifest's and flushes it, while the next file is being
// received. On two processors that takes the digest off the receiving
// thread, and the flush of every file off the end of the run: the install's
// own flush then finds nothing left to write.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "update/UpdateManifest.h"

// The one check of a staged copy against its manifest entry, for every flow
// and every moment (a copy an earlier run left, a copy that has just arrived,
// the dialog's check before installing): reads stagingDir + file.fileName once
// (a regular file only), taking MD5 and, when sha256, SHA-256 on the way, and
// compares them with the entry (DigestsMatch). A copy that does not match is
// deleted: no later step can take it for the file, and no later run reads it
// again. flush: a matching copy is flushed to disk as well. cause (if given)
// says why a copy does not match: missing, unreadable (with the system's
// reason), or which digest differs.
bool StagedCopyMatches(const UpdateFileInfo& file, const std::string& stagingDir, bool sha256,
                       std::string* cause = nullptr, bool flush = false);

class CStagedCheck {
 public:
  CStagedCheck(std::string stagingDir, bool sha256);
  ~CStagedCheck();  // waits for what was handed over
  CStagedCheck(const CStagedCheck&) = delete;
  CStagedCheck& operator=(const CStagedCheck&) = delete;

  // Hands over a file that has arrived whole; waits while many are pending,
  // so that memory stays bounded however far the receiving runs ahead.
  // Without a thread of its own (a tight process limit) the file is checked
  // at once.
  void Add(const UpdateFileInfo& file);

  // The first handed-over file that was not the published one, as a cause;
  // empty while every file checked so far matched.
  std::string Damaged();

  // Waits until every handed-over file is checked; then as Damaged().
  std::string Finish();

 private:
  static constexpr std::size_t kCapacity = 64;
  void Work();
  void Check(const UpdateFileInfo& file);

  const std::string stagingDir_;
  const bool sha256_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<UpdateFileInfo> pending_;
  bool closing_ = false;
  std::string damaged_;
  std::thread worker_;
};
