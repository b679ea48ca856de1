// Digests of files too large for the quick suite, checked against md5sum.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/crypt/MD5.h"
#include "tests/support/TempDir.h"
#include "tests/update/ShellCommand.h"

namespace {

TEST(MD5LargeFile, SeveralHundredMegabytes) {
  TempDir dir;
  const std::string path = dir / "big.bin";
  // Pseudo-random blocks, each different, so a skipped or repeated block shows.
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string block(1 << 20, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int b = 0; b < 300; ++b) {
      for (std::size_t i = 0; i < block.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(&block[i], &state, 8);
      }
      ASSERT_EQ(::write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    }
    ::close(fd);
  }
  CMD5 md5;
  std::string digest;
  EXPECT_EQ(md5.GetFileMD5(path.c_str(), digest), 1);
  EXPECT_EQ(digest, Md5sumOf(path));
}

TEST(MD5LargeFile, SparseFileBeyondFourGigabytes) {
  TempDir dir;
  const std::string path = dir / "sparse.bin";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  // A few bytes around the 4 GiB boundary catch 32-bit offsets or lengths.
  const off_t boundary = off_t{4} << 30;
  ASSERT_EQ(::pwrite(fd, "edge", 4, boundary - 2), 4);
  ASSERT_EQ(::ftruncate(fd, (off_t{9} << 29)), 0);  // 4.5 GiB
  ::close(fd);
  CMD5 md5;
  std::string digest;
  EXPECT_EQ(md5.GetFileMD5(path.c_str(), digest), 1);
  EXPECT_EQ(digest, Md5sumOf(path));
}

}  // namespace
