// Patches decoded against the caps an installation sets: the listed size, a
// window the sizes allow, exactly one frame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/crypt/MD5.h"
#include "platform/crypt/ZstdPatch.h"
#include "tests/support/TempDir.h"

namespace {

std::string Sample(int version) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "entry " + std::to_string(i * 31 % 977) + (i % 500 == 0 ? "!" : "") + "\n";
  return text + "version " + std::to_string(version);
}

}  // namespace

TEST(ZstdPatch, DecodesOnlyWhatTheCapsAllow) {
  const std::string base = Sample(1), target = Sample(2);
  std::string patch, error;
  ASSERT_TRUE(EncodeZstd(base, target, 19, patch, error)) << error;
  EXPECT_LT(patch.size() * 50, target.size());
  std::string wrongBase = base;
  wrongBase[100] ^= 1;
  const struct {
    const char* what;
    std::string frame, base;
    std::uint64_t size;
    const char* cause;  // null: decodes to target
  } cases[] = {
      {"the patch against its base", patch, base, target.size(), nullptr},
      {"a listed size one byte short", patch, base, target.size() - 1, "another size"},
      {"a listed size one byte long", patch, base, target.size() + 1, "another size"},
      {"another base", patch, wrongBase, target.size(), "is corrupt"},
      {"no base", patch, "", target.size(), "is corrupt"},
      {"bytes after the frame", patch + "x", base, target.size(), "bytes after its frame"},
      {"a frame cut short", patch.substr(0, patch.size() - 3), base, target.size(), "ends before"},
      {"not a frame", "just some text that is no frame", base, target.size(), "is corrupt"},
      {"nothing", "", base, target.size(), "ends before"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string output, cause;
    EXPECT_EQ(DecodeZstd(c.frame, c.base, c.size, output, cause), c.cause == nullptr);
    if (c.cause == nullptr) {
      EXPECT_EQ(output, target);
    } else {
      EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
    }
  }
  EXPECT_EQ(ZstdWindowLog(100, 0), 10u);
  EXPECT_EQ(ZstdWindowLog(100 << 20, 90 << 20), 27u);
  EXPECT_EQ(ZstdWindowLog(1, 128u << 20), 0u) << "beyond the largest window";
}

// From file to file: the base is only read, the result appears whole or not
// at all, its digests taken on the way.
TEST(ZstdPatch, DecodesFileToFileLeavingTheBaseAlone) {
  TempDir dir;
  const std::string base = Sample(1), target = Sample(2);
  std::string patch, error;
  ASSERT_TRUE(EncodeZstd(base, target, 3, patch, error)) << error;
  WriteTextFile(dir / "base", base);
  WriteTextFile(dir / "patch", patch);
  WriteTextFile(dir / "broken", patch.substr(0, patch.size() / 2));
  struct stat before {};
  ASSERT_EQ(::stat((dir / "base").c_str(), &before), 0);
  CStreamDigest digest(kDigestMD5 | kDigestSHA256);
  std::string cause;
  ASSERT_TRUE(DecodeZstdFile(dir / "patch", dir / "base", dir / "out", target.size(), digest, cause)) << cause;
  EXPECT_EQ(ReadTextFile(dir / "out"), target);
  EXPECT_EQ(digest.Finish().md5, CMD5::OfBytes(target.data(), target.size()));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.part"));
  for (const std::string frame : {"broken", "missing"}) {
    EXPECT_FALSE(DecodeZstdFile(dir / frame, dir / "base", dir / "out", target.size(), digest, cause));
    EXPECT_FALSE(std::filesystem::exists(dir / "out")) << frame;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.part")) << frame;
  }
  struct stat after {};
  ASSERT_EQ(::stat((dir / "base").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ReadTextFile(dir / "base"), base);
}

// A mapped base that another program truncated under the decoder fails the
// decode instead of killing the process with SIGBUS.
TEST(ZstdPatch, ABaseTruncatedUnderTheDecoderFailsIt) {
  TempDir dir;
  const std::string base = Sample(1), target = Sample(2);
  std::string patch, error;
  ASSERT_TRUE(EncodeZstd(base, target, 3, patch, error)) << error;
  WriteTextFile(dir / "base", base);
  const int fd = ::open((dir / "base").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* mapped = ::mmap(nullptr, base.size(), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  ASSERT_NE(mapped, MAP_FAILED);
  std::filesystem::resize_file(dir / "base", 0);
  std::string output, cause;
  EXPECT_FALSE(
      DecodeZstd(patch, std::string_view(static_cast<const char*>(mapped), base.size()), target.size(), output, cause));
  EXPECT_NE(cause.find("a mapped file changed or could not be read"), std::string::npos) << cause;
  ::munmap(mapped, base.size());
}
