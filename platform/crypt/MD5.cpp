#include "platform/crypt/MD5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/core_guard.h"
#include "platform/crypt/StreamDigest.h"
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
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string DigestOfBytes(const void* data, std::size_t size, DigestKind kind) {
  CStreamDigest stream(kind);
  stream.Update(data, size);
  const FileDigests digests = stream.Finish();
  return kind == kDigestMD5 ? digests.md5 : digests.sha256;
}

}  // namespace

struct CMD5::Buffer {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  // Page-aligned so the kernel copies whole pages into it.
  std::unique_ptr<unsigned char, Free> data{static_cast<unsigned char*>(std::aligned_alloc(4096, kBlockSize))};
  CStreamDigest md5{kDigestMD5};
  CStreamDigest sha256{kDigestSHA256};
};

CMD5::CMD5() = default;
CMD5::~CMD5() = default;

std::uint64_t CMD5::FilesHashed() { return filesHashed.load(std::memory_order_relaxed); }

long CMD5::GetFileMD5(const char* path, std::string& digest) {
  filesHashed.fetch_add(1, std::memory_order_relaxed);
  return HashFile(path, false, digest);
}

long CMD5::GetFileSHA256(const char* path, std::string& digest) { return HashFile(path, true, digest); }

long CMD5::HashFile(const char* path, bool sha256, std::string& digest) {
  digest = kUnreadable;
  if (path == nullptr) return 0;
  if (!buffer_) buffer_ = std::make_unique<Buffer>();
  if (!buffer_->data) return 0;

  // O_NONBLOCK so that a FIFO standing where a file should be cannot hang the
  // check; only regular files have a digest.
  FileDescriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return 0;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  // Each file is read once from start to end; ask for aggressive read-ahead.
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  CStreamDigest& stream = sha256 ? buffer_->sha256 : buffer_->md5;
  if (!stream.Reset()) return 0;
  unsigned char* block = buffer_->data.get();
  for (;;) {
    const ssize_t n = ::read(file.get(), block, kBlockSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;  // also a directory (EISDIR)
    if (n == 0) break;
    if (!stream.Update(block, static_cast<std::size_t>(n))) return 0;
  }
  const FileDigests digests = stream.Finish();
  digest = sha256 ? digests.sha256 : digests.md5;
  return digest != kUnreadable ? 1 : 0;
}

std::string CMD5::OfBytes(const void* data, std::size_t size) { return DigestOfBytes(data, size, kDigestMD5); }

std::string CMD5::SHA256OfBytes(const void* data, std::size_t size) { return DigestOfBytes(data, size, kDigestSHA256); }

std::vector<std::string> CMD5::GetFilesMD5(const std::vector<std::string>& paths, unsigned threads) {
  std::vector<std::string> digests(paths.size());
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, paths.size()));
  // Each worker takes the next file in list order; a digest lands in its own
  // slot, so the result keeps the list's order whatever finishes first.
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    CMD5 md5;
    for (std::size_t i; (i = next.fetch_add(1)) < paths.size();) md5.GetFileMD5(paths[i].c_str(), digests[i]);
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
