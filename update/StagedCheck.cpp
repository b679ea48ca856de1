#include "update/StagedCheck.h"


#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/crypt/StreamDigest.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/thread/ThreadBase.h"
#include "platform/win32/Files.h"
#include "update/ReleaseTrust.h"

CStagedCheck::CStagedCheck(std::string stagingDir, bool sha256) : stagingDir_(std::move(stagingDir)), sha256_(sha256) {
  try {
    worker_ = std::thread([this] {
      // Receiving comes first: this thread gets what the downloads leave.
      LowerCurrentThreadPriority(5);
      Work();
    });
  } catch (const std::system_error&) {
  }
}

CStagedCheck::~CStagedCheck() { Finish(); }

void CStagedCheck::Add(const UpdateFileInfo& file) {
  if (!worker_.joinable()) {
    Check(file);
    return;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return pending_.size() < kCapacity; });
  pending_.push_back(file);
  changed_.notify_all();
}

std::string CStagedCheck::Damaged() {
  std::lock_guard lock(mutex_);
  return damaged_;
}

std::string CStagedCheck::Finish() {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  return Damaged();
}

void CStagedCheck::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closing_ || !pending_.empty(); });
    if (pending_.empty()) return;
    const UpdateFileInfo file = std::move(pending_.front());
    pending_.pop_front();
    changed_.notify_all();
    lock.unlock();
    Check(file);
    lock.lock();
  }
}

void CStagedCheck::Check(const UpdateFileInfo& file) {
  {
    // After one damaged file the rest need no reading: nothing is installed.
    std::lock_guard lock(mutex_);
    if (!damaged_.empty()) return;
  }
  // The install flushes every file it records; one flushed here, while the
  // next is received, leaves it nothing to wait for.
  std::string cause;
  if (StagedCopyMatches(file, stagingDir_, sha256_, &cause, true)) return;
  std::lock_guard lock(mutex_);
  if (damaged_.empty()) damaged_ = cause;
}

bool StagedCopyMatches(const UpdateFileInfo& file, const std::string& stagingDir, bool sha256, std::string* cause,
                       bool flush) {
  const std::string path = stagingDir + file.fileName;
  CStreamDigest digest(sha256 ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  errno = 0;
  const int fd = OpenRegularFileForReading(path);
  if (fd < 0 && errno == ENOENT) {
    if (cause != nullptr) *cause = file.fileName + " is missing";
    return false;
  }
  const long long size = fd >= 0 ? DescriptorSize(fd) : -1;
  const bool read = size >= 0 && digest.UpdateFromFile(fd, size);
  const int error = errno != 0 ? errno : EIO;
  const FileDigests digests = digest.Finish();
  std::string why = "cannot read the staged copy of " + file.fileName + ": " + diagnostics::ErrorText(error);
  const bool matches = read && DigestsMatch(file, digests, sha256, &why);
  // A failed flush is the install's to report: it flushes every file again.
  if (matches && flush) FlushDescriptor(fd);
  if (fd >= 0) CloseDescriptor(fd);
  if (matches) return true;
  // Bytes that are not the file are worth nothing to a later run; a copy
  // that could not be read stays, as the fault may be passing.
  if (read) DeleteFileA(path.c_str());
  if (cause != nullptr) *cause = std::move(why);
  return false;
}
