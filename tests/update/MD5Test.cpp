#include "platform/crypt/MD5.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/TempDir.h"
#include "tests/update/ShellCommand.h"

namespace {

TEST(MD5, FileDigestEqualsMd5sumAndReplacesTheText) {
  TempDir dir;
  std::string binary;
  for (int i = 0; i < 3 * 1024 * 1024 + 7; ++i) binary += static_cast<char>((i * 131) ^ (i >> 9));
  const struct {
    const char* name;
    std::string content;
  } files[] = {{"empty", ""}, {"small.txt", "hello, updater\n"}, {"multi-block.bin", binary}};
  CMD5 md5;
  std::string digest = "left over from an earlier file";
  for (const auto& file : files) {
    WriteTextFile(dir / file.name, file.content);
    EXPECT_EQ(md5.GetFileMD5((dir / file.name).c_str(), digest), 1);
    EXPECT_EQ(digest, Md5sumOf(dir / file.name)) << file.name;
  }
}

TEST(MD5, UnreadableFileGivesATextNoDigestCanEqual) {
  TempDir dir;
  WriteTextFile(dir / "folder/inside", "x");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  CMD5 md5;
  for (const std::string& path : {dir / "missing", dir / "folder", dir / "fifo"}) {
    std::string digest = "d41d8cd98f00b204e9800998ecf8427e";
    EXPECT_EQ(md5.GetFileMD5(path.c_str(), digest), 0) << path;
    EXPECT_EQ(digest, CMD5::kUnreadable) << path;
  }
}

TEST(MD5, BackslashesInThePathReachTheFile) {
  TempDir dir;
  WriteTextFile(dir / "skin/main.png", "png");
  CMD5 md5;
  std::string digest;
  EXPECT_EQ(md5.GetFileMD5((dir.path() + "skin\\main.png").c_str(), digest), 1);
  EXPECT_EQ(digest, CMD5::OfBytes("png", 3));
}

}  // namespace
