#include "update/StagedCheck.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/crypt/StreamDigest.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/thread/ThreadBase.h"
#include "platform/win32/Files.h"
#include "update/ReleaseTrust.h"

namespace {

// Read in pieces that stay in the processor's cache between read() and the
// digest.
constexpr std::size_t kPiece = std::size_t{256} << 10;

}  // namespace

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
  static thread_local std::unique_ptr<char[]> piece(new char[kPiece]);
  CStreamDigest digest(sha256_ ? kDigestMD5 | kDigestSHA256 : kDigestMD5);
  errno = 0;
  const int fd = OpenRegularFileForReading(stagingDir_ + file.fileName);
  bool read = fd >= 0 && digest.Reset();
  for (ssize_t n = 1; read && n != 0;) {
    n = ::read(fd, piece.get(), kPiece);
    if (n < 0 && errno == EINTR) continue;
    read = n >= 0 && digest.Update(piece.get(), static_cast<std::size_t>(n));
  }
  const int error = errno != 0 ? errno : EIO;
  const FileDigests digests = digest.Finish();
  std::string cause = "cannot read the staged copy of " + file.fileName + ": " + diagnostics::ErrorText(error);
  const bool matches = read && DigestsMatch(file, digests, sha256_, &cause);
  // The install flushes every file it records; one flushed here, while the
  // next is received, leaves it nothing to wait for. A failure is the
  // install's to report.
  if (matches) ::fdatasync(fd);
  if (fd >= 0) ::close(fd);
  if (matches) return;
  std::lock_guard lock(mutex_);
  if (damaged_.empty()) damaged_ = cause;
}
