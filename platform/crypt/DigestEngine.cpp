#include "platform/crypt/DigestEngine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace {

// 1 MiB keeps the number of system calls negligible against the hashing while
// staying well inside the L2/L3 caches on the way from read() to the digest.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

std::atomic<std::uint64_t> filesHashed{0};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) CloseDescriptor(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

struct CDigestEngine::Buffer {
  static constexpr std::align_val_t kPage{4096};
  struct Free {
    void operator()(unsigned char* p) const { ::operator delete[](p, kPage); }
  };
  // Page-aligned so the kernel copies whole pages into it.
  std::unique_ptr<unsigned char, Free> data{static_cast<unsigned char*>(::operator new[](kBlockSize, kPage, std::nothrow))};
  CStreamDigest md5{kDigestMD5};
  CStreamDigest sha256{kDigestSHA256};
};

CDigestEngine::CDigestEngine() = default;
CDigestEngine::~CDigestEngine() = default;

std::uint64_t CDigestEngine::FilesHashed() { return filesHashed.load(std::memory_order_relaxed); }

long CDigestEngine::FileDigest(const char* path, DigestKind kind, std::string& digest) {
  const bool sha256 = kind == kDigestSHA256;
  if (!sha256) filesHashed.fetch_add(1, std::memory_order_relaxed);
  digest = kUnreadableDigest;
  if (path == nullptr) return 0;
  if (!buffer_) buffer_ = std::make_unique<Buffer>();
  if (!buffer_->data) return 0;

  // Only regular files have a digest; a FIFO standing where a file should be
  // cannot hang the check.
  FileDescriptor file(OpenRegularFileForReading(path));
  if (file.get() < 0) return 0;
  // Each file is read once from start to end; ask for aggressive read-ahead.
  AdviseSequentialRead(file.get());

  CStreamDigest& stream = sha256 ? buffer_->sha256 : buffer_->md5;
  if (!stream.Reset()) return 0;
  unsigned char* block = buffer_->data.get();
  for (;;) {
    const long long n = ReadDescriptor(file.get(), block, kBlockSize);
    if (n < 0) return 0;
    if (n == 0) break;
    if (!stream.Update(block, static_cast<std::size_t>(n))) return 0;
  }
  const FileDigests digests = stream.Finish();
  digest = sha256 ? digests.sha256 : digests.md5;
  return digest != kUnreadableDigest ? 1 : 0;
}

std::string CDigestEngine::OfBytes(const void* data, std::size_t size, DigestKind kind) {
  CStreamDigest stream(kind);
  stream.Update(data, size);
  const FileDigests digests = stream.Finish();
  return kind == kDigestMD5 ? digests.md5 : digests.sha256;
}

std::vector<std::string> CDigestEngine::FilesMD5(const std::vector<std::string>& paths, unsigned threads) {
  std::vector<std::string> digests(paths.size());
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, paths.size()));
  // Each worker takes the next file in list order; a digest lands in its own
  // slot, so the result keeps the list's order whatever finishes first.
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    CDigestEngine engine;
    for (std::size_t i; (i = next.fetch_add(1)) < paths.size();)
      engine.FileDigest(paths[i].c_str(), kDigestMD5, digests[i]);
  };
  std::vector<std::thread> pool;
  // A thread that cannot be started (a tight RLIMIT_NPROC or TasksMax) only
  // means fewer hands: the calling thread works through the list in any case.
  try {
    for (unsigned i = 1; i < threads; ++i) pool.emplace_back(work);
  } catch (const std::system_error&) {
  }
  work();
  for (auto& worker : pool) worker.join();
  return digests;
}
