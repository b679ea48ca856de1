// CMD5 against md5sum on the same 512 MiB file, page cache warm for both.
// Prints MB/s of each and their ratio (goal: CMD5 at least 0.95 of md5sum).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/crypt/MD5.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kFileMiB = 512;

double Seconds(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool WriteFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::string block(kMiB, '\0');
  std::uint64_t state = 0x243F6A8885A308D3ull;
  for (std::size_t b = 0; b < kFileMiB; ++b) {
    for (std::size_t i = 0; i < block.size(); i += 8) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      std::memcpy(&block[i], &state, 8);
    }
    if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
      ::close(fd);
      return false;
    }
  }
  return ::close(fd) == 0;
}

std::string RunMd5sum(const std::string& path) {
  FILE* pipe = ::popen(("md5sum -b '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return std::string();
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  return read ? std::string(line, 32) : std::string();
}

}  // namespace

int main() {
  char pattern[] = "/tmp/zolt-bench-md5-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  const std::string path = dir + "/data.bin";
  std::printf("writing %zu MiB test file in %s ...\n", kFileMiB, dir.c_str());
  if (!WriteFile(path)) {
    std::fprintf(stderr, "bench-md5: cannot write %s\n", path.c_str());
    return 1;
  }
  CMD5 md5;
  std::string digest;
  md5.GetFileMD5(path.c_str(), digest);  // warms the page cache
  const std::string reference = RunMd5sum(path);

  const double megabytes = static_cast<double>(kFileMiB * kMiB) / 1e6;
  double best = 1e9, bestReference = 1e9;
  for (int round = 0; round < 3; ++round) {
    auto start = std::chrono::steady_clock::now();
    md5.GetFileMD5(path.c_str(), digest);
    best = std::min(best, Seconds(start));
    start = std::chrono::steady_clock::now();
    RunMd5sum(path);
    bestReference = std::min(bestReference, Seconds(start));
  }
  std::filesystem::remove_all(dir);
  std::printf("digests %s\n", digest == reference ? "agree" : "DIFFER");
  std::printf("CMD5    %8.1f MB/s\n", megabytes / best);
  std::printf("md5sum  %8.1f MB/s\n", megabytes / bestReference);
  std::printf("ratio   %8.3f (goal >= 0.95)\n", bestReference / best);
  return digest == reference ? 0 : 1;
}
