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
